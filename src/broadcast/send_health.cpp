#include "broadcast/send_health.h"

#include <cstring>

#include "text/string_printf.h"
#include "wire/wire_format.h"

std::string ErrorText(int error) {
  char buffer[256];
  // The GNU form returns the text, which need not be in the buffer.
  return strerror_r(error, buffer, sizeof buffer);
}

std::string FormatSendReport(const SendReport& report) {
  if (report.kind == SendReport::Kind::Failing)
    return StringPrintf("the play list cannot be sent to %s:%d: %s; the broadcast goes on and tries every cycle",
                        wire::GROUP_ADDRESS, wire::GROUP_PORT, ErrorText(report.error).c_str());
  return StringPrintf("the play list is sent to %s:%d again, after %llu lost packets in %.1f s", wire::GROUP_ADDRESS,
                      wire::GROUP_PORT, static_cast<unsigned long long>(report.failedPackets),
                      static_cast<double>(report.failedMs) / 1000.0);
}

std::optional<SendReport> SendHealth::Cycle(int sentPackets, int failedPackets, int firstError, int64_t nowMs) {
  if (failedPackets > 0) {
    m_failedPackets += static_cast<uint64_t>(failedPackets);
    if (m_failing) return std::nullopt;
    m_failing = true;
    m_sinceMs = nowMs;
    SendReport report;
    report.error = firstError;
    return report;
  }
  if (!m_failing || sentPackets <= 0) return std::nullopt;
  SendReport report;
  report.kind = SendReport::Kind::Recovered;
  report.failedPackets = m_failedPackets;
  report.failedMs = nowMs - m_sinceMs;
  m_failing = false;
  m_failedPackets = 0;
  return report;
}
