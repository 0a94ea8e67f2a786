// The runner listening to its own play list the way a set-top box does:
// joined on the send interface, the monitor's decoder on a thread of its
// own. Its figures go to the status endpoint; a second sender on the group
// and a conflict are told on standard error at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "monitor/play_list_monitor.h"
#include "monitor/receive_socket.h"

struct ListenBackFigures {
  int version = -1;      // of the last complete list, -1 before the first
  int programs = -1;     // in it
  int64_t lastList = 0;  // Unix seconds it arrived, 0 before the first
  uint64_t playLists = 0;
  uint64_t packets = 0;
  uint64_t sections = 0;
  uint64_t crcErrors = 0;
  uint64_t continuityErrors = 0;
  uint64_t conflicts = 0;
  std::vector<std::string> sources;  // addresses, first seen first
};

class ListenBack {
 public:
  ListenBack() = default;
  ~ListenBack() { Stop(); }
  ListenBack(const ListenBack&) = delete;
  ListenBack& operator=(const ListenBack&) = delete;

  // Joins the group on the interface with ifaceAddr (network byte order, 0
  // for the system's choice) and starts the thread. False with the reason.
  bool Start(uint32_t ifaceAddr, std::string* error);
  void Stop();
  // Any thread (the status server asks from its own).
  bool Running() const { return m_running.load(); }
  ListenBackFigures Read() const;

 private:
  void Run();
  void Publish(const PlayListMonitor& monitor);

  ReceiveSocket m_socket;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_running{false};
  mutable std::mutex m_mutex;
  ListenBackFigures m_figures;  // under m_mutex
};
