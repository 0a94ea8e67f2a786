// The runner as a systemd service of Type=notify: what it tells the service
// manager over the notification socket, by the documented datagram protocol
// (sd_notify(3): one AF_UNIX datagram of "KEY=value" lines to the socket in
// $NOTIFY_SOCKET, a path or, after '@', an abstract name).
//
// - READY=1 once the first packet went out: the first cycle whose report
//   shows a send that succeeded (a cycle reports the previous cycle's send),
//   or the first cycle at all when there is nothing to send (an empty list)
//   or no next cycle will come to report it (a send period of all ones).
// - STATUS= the version, programs and sections on the air and the last
//   failure (sends failing, a reload refused), whenever that text changes.
// - WATCHDOG=1 only while the air is kept: ready, the last send reported
//   succeeded, and the loop is not overdue for its next cycle. A head end
//   whose sends fail (the route to the group is gone, the interface is
//   down) or whose broadcast thread hangs stops feeding the watchdog, and
//   systemd restarts it and shows it as failed, never as running.
#pragma once

#include <cstdint>
#include <string>

#include "broadcast/broadcast_loop.h"

// The notification socket. Inactive (every Send a no-op that returns false)
// when there is none, as outside systemd.
class NotifySocket {
 public:
  // $NOTIFY_SOCKET, or inactive when it is unset or unusable.
  static NotifySocket FromEnvironment();
  // "/path/to/socket" or "@abstract-name"; anything else stays inactive.
  explicit NotifySocket(const std::string& address);
  ~NotifySocket();
  NotifySocket(NotifySocket&& other) noexcept;
  NotifySocket& operator=(NotifySocket&&) = delete;
  NotifySocket(const NotifySocket&) = delete;

  bool Active() const { return m_fd >= 0; }
  // One datagram; false when it could not be sent.
  bool Send(const std::string& message);

 private:
  int m_fd = -1;
  std::string m_address;  // the socket address's path bytes ('\0' first for an abstract name)
};

// The watchdog interval systemd asks for, from $WATCHDOG_USEC (and
// $WATCHDOG_PID, which must be this process when set), in milliseconds; 0
// when there is no watchdog.
int64_t WatchdogIntervalMs();

// What to tell the service manager, worked out from the cycles' fields.
// Times are milliseconds of a monotonic clock.
class ServiceReport {
 public:
  // watchdogMs: the interval from WatchdogIntervalMs(), 0 for none.
  explicit ServiceReport(int64_t watchdogMs) : m_watchdogMs(watchdogMs) {}

  // One cycle's fields, seen at nowMs.
  void Cycle(const CycleFields& fields, int64_t nowMs);
  // A failure beside the sends, such as a reload that was refused; shown
  // as the last failure until another one.
  void Failure(const std::string& what);

  // The datagram owed now ("" for nothing): READY=1, STATUS=... and
  // WATCHDOG=1 lines as due. programs: the list's programs; sendRateMs: the
  // current send period (all ones: the loop waits for a change alone).
  std::string Poll(int64_t nowMs, int programs, uint32_t sendRateMs);

  bool Ready() const { return m_ready; }
  // The send period plus this is the longest a cycle may take before the
  // loop counts as hung.
  static constexpr int64_t kCycleGraceMs = 2000;

 private:
  bool Healthy(int64_t nowMs, uint32_t sendRateMs) const;
  std::string StatusText(int programs) const;

  int64_t m_watchdogMs;
  bool m_haveCycle = false;
  bool m_ready = false;
  bool m_readyTold = false;
  bool m_sendFailing = false;
  CycleFields m_last;
  int64_t m_lastCycleMs = 0;
  int64_t m_lastPingMs = 0;
  bool m_pinged = false;
  std::string m_lastFailure;
  std::string m_toldStatus;
};

// Milliseconds of the monotonic clock, for ServiceReport.
int64_t MonotonicMs();
