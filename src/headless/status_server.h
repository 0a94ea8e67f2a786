// The runner's state for the head end's monitoring: /status (JSON) and
// /metrics (Prometheus text) over HTTP. The runner's main thread hands each
// batch of cycle fields to a small snapshot under a lock; the server's thread
// only reads that snapshot, so a scrape never touches the broadcast.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "broadcast/log_queue.h"
#include "headless/listen_back.h"
#include "http/http_server.h"

struct StatusFigures {
  bool onAir = false;  // a cycle has been seen
  unsigned version = 0;
  int programs = 0;  // in the list
  int sections = 0;
  int bytes = 0;              // of the six sections' room
  uint32_t sendPeriodMs = 0;  // all ones: the loop sends on changes only
  uint64_t cycles = 0;
  uint64_t sectionsSent = 0;  // sections whose every packet went out
  uint64_t packetsSent = 0;
  uint64_t packetsFailed = 0;
  uint64_t failedSections = 0;  // sections with a packet whose send failed
  bool failing = false;         // the last send failed
  int64_t lastFailure = 0;      // Unix seconds of the last failed send, 0 for none
  int lastFailurePackets = 0;   // packets that failed in it
  int64_t started = 0;          // Unix seconds
  int64_t now = 0;              // when the figures were read
};

// Packets sent and failed in one section's send from the sum the packetizer
// returns (188 a packet sent, -1 a packet failed); a section has at most six
// packets, so the sum says both.
void SplitSendSum(int sum, int* sent, int* failed);

// With listen-back figures when listen-back is on (nullptr: off).
std::string FormatStatusJson(const StatusFigures& f, const ListenBackFigures* heard = nullptr);
std::string FormatStatusMetrics(const StatusFigures& f, const ListenBackFigures* heard = nullptr);

class StatusBoard {
 public:
  // sendRate is read at each request (the editor's, which the loop reads).
  explicit StatusBoard(const std::atomic<uint32_t>& sendRate);
  // The runner's main thread: one batch of the loop's cycles, at `now`.
  void Take(const std::vector<LogQueue::Entry>& batch, int64_t now = std::time(nullptr));
  StatusFigures Read(int64_t now = std::time(nullptr)) const;

 private:
  const std::atomic<uint32_t>& m_sendRate;
  mutable std::mutex m_mutex;
  StatusFigures m_figures;  // under m_mutex
};

// The board served on an address; off until Start.
class StatusServer {
 public:
  explicit StatusServer(const std::atomic<uint32_t>& sendRate);
  bool Start(const std::string& listen, std::string* error) { return m_http.Start(listen, error); }
  void Take(const std::vector<LogQueue::Entry>& batch) {
    if (m_http.Running()) m_board.Take(batch);
  }
  // Listens to the list on the air from ifaceAddr's interface; its figures
  // join the board's. Works without the HTTP server too (its alarms go to
  // standard error). False with the reason.
  bool StartListenBack(uint32_t ifaceAddr, std::string* error) { return m_listenBack.Start(ifaceAddr, error); }
  HttpReply Answer(const std::string& path) const;

 private:
  StatusBoard m_board;
  ListenBack m_listenBack;
  HttpServer m_http;  // last: stopped first, while what it reads still stands
};
