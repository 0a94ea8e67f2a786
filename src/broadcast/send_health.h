// Whether the play list still reaches the network. A send can fail on every
// packet for as long as a route or an interface is missing, and the cycle's
// log line only shows a negative sum; this tells the operator once when a run
// of failures begins, with the system's reason, and once when sending works
// again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct SendReport {
  enum class Kind { Failing, Recovered };
  Kind kind = Kind::Failing;
  int error = 0;               // Failing: the system's reason (errno) of the first failed packet
  uint64_t failedPackets = 0;  // Recovered: packets lost in the run
  int64_t failedMs = 0;        // Recovered: from the first failed cycle to the first clean one
  bool operator==(const SendReport&) const = default;
};

// One line for the operator, without a line break.
std::string FormatSendReport(const SendReport& report);

// The system's text for an error number (thread-safe).
std::string ErrorText(int error);

// Takes the reports of the broadcast loop. Called on the broadcast thread;
// must hand the report over and return without waiting for whoever shows it.
class SendReportSink {
 public:
  virtual ~SendReportSink() = default;
  virtual void OnSendReport(const SendReport& report) = 0;
};

// The loop's memory of its sends: fed once per cycle that sent a section.
// A cycle with any failed packet begins (or continues) a run of failures; the
// first cycle whose packets all went out ends it. Each edge gives one report.
class SendHealth {
 public:
  // sentPackets and failedPackets of this cycle's section; firstError the
  // errno of its first failed packet; nowMs any monotonic milliseconds.
  std::optional<SendReport> Cycle(int sentPackets, int failedPackets, int firstError, int64_t nowMs);
  bool Failing() const { return m_failing; }

 private:
  bool m_failing = false;
  uint64_t m_failedPackets = 0;
  int64_t m_sinceMs = 0;
};
