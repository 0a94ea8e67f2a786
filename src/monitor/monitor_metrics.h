// The monitor's counters over HTTP, as /metrics in the Prometheus text
// format, so a probe on another machine of the head end can be scraped. The
// receiving loop publishes a copy of the counters a few times a second; the
// server's thread only reads that copy.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "http/http_server.h"
#include "monitor/play_list_monitor.h"

std::string FormatMonitorMetrics(const MonitorCounters& c);

class MonitorMetricsServer {
 public:
  MonitorMetricsServer();
  bool Start(const std::string& listen, std::string* error) { return m_http.Start(listen, error); }
  // The receiving thread, as often as it likes: copies the counters at most
  // every 200 ms (always when `force`), so a busy group costs nothing more.
  void Publish(const PlayListMonitor& monitor, int64_t nowNs, bool force = false);

 private:
  HttpReply Answer(const std::string& path) const;

  mutable std::mutex m_mutex;
  MonitorCounters m_counters;  // under m_mutex
  int64_t m_next = 0;          // the receiving thread's alone
  HttpServer m_http;
};
