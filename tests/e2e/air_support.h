// Helpers of the end-to-end tests: tables of a given number of sections and
// a receiver that keeps every section it decoded, in order.
#pragma once

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../broadcast/test_support.h"
#include "monitor/play_list_monitor.h"
#include "monitor/receive_socket.h"

// 27 programs with 20-byte names fill a section (999 of its 1000 bytes, six
// packets), so `sections` sections take 27 * (sections - 1) + 1 programs.
inline std::vector<ProgramEntry> TableOfSections(int sections) {
  std::vector<ProgramEntry> v;
  char name[32], addr[20];
  for (int i = 0; i < 27 * (sections - 1) + 1; ++i) {
    std::snprintf(name, sizeof name, "channel %012d", i);
    std::snprintf(addr, sizeof addr, "239.%d.%d.%d", i % 7, i % 200, 1 + i % 250);
    v.push_back(MakeProgram(100 + i, name, addr, 1024 + 3 * i, i % 5, static_cast<uint8_t>(i % 2)));
  }
  return v;
}

// Puts the table in place as a load would: version and change flag given.
inline void SetTable(const std::vector<ProgramEntry>& programs, uint8_t version, bool changed) {
  ResetProgramTable();
  std::lock_guard lock(g_TableGuard);
  for (size_t i = 0; i < programs.size(); ++i) g_Programs[i] = programs[i];
  g_nProgramCount = static_cast<int>(programs.size());
  g_nVersion.store(version);
  g_bListChanged.store(changed ? 1 : 0);
}

inline DecodedProgram ExpectedOnAir(const ProgramEntry& e) {
  DecodedProgram p;
  p.nNumber = static_cast<uint16_t>(e.nNumber);
  p.nGroup = static_cast<uint16_t>(e.nGroup);
  p.address = ntohl(inet_addr(e.szMulticast));
  p.nPort = static_cast<uint16_t>(e.nPort);
  p.name = e.szName;
  p.bHD = e.bHD;
  return p;
}

struct AirSection {
  uint8_t number, last, version;
  size_t size;
};

class AirReceiver {
 public:
  AirReceiver()
      : m_monitor([this](const PlayList& l) { lists.push_back(l); }),
        m_sections(0x0010, [this](const uint8_t* d, size_t n) {
          DecodedSection s;
          if (DecodeSection(d, n, s) == SectionError::None)
            sections.push_back({s.sectionNumber, s.lastSection, s.version, n});
        }) {}

  // Joins on the interface that owns ifaceAddr (network byte order; 0 lets
  // the system choose).
  bool Open(uint32_t ifaceAddr = 0) { return m_socket.Open(ifaceAddr, &error); }

  // Takes datagrams until done() or the (generous) deadline; true if done.
  bool Until(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      TakeOne(100);
    }
    return true;
  }
  // Everything already queued, e.g. after the loop has stopped.
  void Drain() {
    while (TakeOne(200)) {
    }
  }
  const TsCounters& Ts() const { return m_sections.Counters(); }
  MonitorCounters Counters() const { return m_monitor.Counters(); }

  std::vector<PlayList> lists;
  std::vector<AirSection> sections;
  std::string error;

 private:
  bool TakeOne(int timeoutMs) {
    uint8_t buf[2048];
    size_t got = 0;
    int64_t at = 0;
    if (m_socket.Receive(buf, sizeof buf, timeoutMs, &got, &at) != 1) return false;
    const size_t n = got < sizeof buf ? got : sizeof buf;
    m_monitor.Feed(buf, n, at);
    m_sections.Feed(buf, n);
    return true;
  }

  ReceiveSocket m_socket;
  PlayListMonitor m_monitor;
  SectionReassembler m_sections;
};

// The fields of a cycle's log line.
struct CycleLine {
  int version = -1, sections = -1, rotation = -1, len = -1, sent = 0;
};
inline CycleLine ParseLine(const std::string& line) {
  CycleLine c;
  std::sscanf(line.c_str(), "play list:update,section(%d):%d,%d,len:%d,sent:%d,", &c.version, &c.sections, &c.rotation,
              &c.len, &c.sent);
  return c;
}
