// Fakes shared by the broadcast tests: a fixed clock, a socket and pause
// that record, and a log sink that a test can wait on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "broadcast/broadcast_loop.h"
#include "broadcast/section_encoder.h"

class FixedClock : public Clock {
 public:
  explicit FixedClock(LocalTime t = {2024, 3, 9, 14, 5, 30}) : m_t(t) {}
  LocalTime Now() const override { return m_t; }

 private:
  LocalTime m_t;
};

class RecordingSocket : public DatagramSocket {
 public:
  bool Open(uint32_t sendAddr) override {
    std::lock_guard lock(m);
    opened = true;
    boundTo = sendAddr;
    return true;
  }
  int SendTo(const uint8_t* data, size_t len, const sockaddr_in& dest) override {
    std::lock_guard lock(m);
    packets.emplace_back(data, data + len);
    lastDest = dest;
    return fail ? -1 : static_cast<int>(len);
  }
  void ShutdownAndClose() override {
    std::lock_guard lock(m);
    closed = true;
  }
  std::vector<std::vector<uint8_t>> Packets() {
    std::lock_guard lock(m);
    return packets;
  }

  std::mutex m;
  bool opened = false, closed = false, fail = false;
  uint32_t boundTo = 0;
  sockaddr_in lastDest{};
  std::vector<std::vector<uint8_t>> packets;
};

class CountingPause : public PacketPause {
 public:
  void Pause() override { ++count; }
  int count = 0;
};

class RecordingSink : public LogSink {
 public:
  void AppendLog(const char* line, const CycleFields&) override {
    {
      std::lock_guard lock(m_mutex);
      m_lines.emplace_back(line);
    }
    m_cv.notify_all();
  }
  // Waits until n lines have come (bounded), and returns what has come.
  std::vector<std::string> WaitFor(size_t n, std::chrono::seconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(m_mutex);
    m_cv.wait_for(lock, limit, [&] { return m_lines.size() >= n; });
    return m_lines;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<std::string> m_lines;
};

inline ProgramEntry MakeProgram(int number, const std::string& name, const char* address, int port, int group,
                                uint8_t hd) {
  ProgramEntry e{};
  e.nNumber = number;
  CopyField(e.szName, name);
  CopyField(e.szMulticast, address);
  e.nPort = port;
  e.nGroup = group;
  e.bHD = hd;
  return e;
}

inline std::string Hex(const uint8_t* p, size_t n) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
    s += b;
  }
  return s;
}
