// The runner's side of the send reports: the broadcast thread queues them
// without waiting, the main thread writes them to standard error with the
// log lines' batches. Only the edges of a run of failures come here, so the
// queue stays short; a bound keeps a flapping network from growing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "broadcast/send_health.h"

class SendReportQueue : public SendReportSink {
 public:
  explicit SendReportQueue(size_t maxReports = 64) : m_maxReports(maxReports) {}
  void OnSendReport(const SendReport& report) override;
  // The messages queued so far, oldest first, each one line with the
  // program's prefix and a line break; a note of reports dropped, if any.
  std::string TakeText(const char* program);

 private:
  const size_t m_maxReports;
  std::mutex m_mutex;
  std::vector<SendReport> m_reports;  // under m_mutex
  uint64_t m_dropped = 0;             // under m_mutex
};

// True when an interface of this machine (of this network namespace) holds
// the IPv4 address (network byte order).
bool AddressOfThisMachine(uint32_t address);
