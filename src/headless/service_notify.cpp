#include "headless/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "text/string_printf.h"

NotifySocket NotifySocket::FromEnvironment() {
  const char* address = std::getenv("NOTIFY_SOCKET");
  return NotifySocket(address != nullptr ? address : "");
}

NotifySocket::NotifySocket(const std::string& address) {
  sockaddr_un probe{};
  if (address.size() < 2 || address.size() >= sizeof probe.sun_path) return;
  if (address[0] == '@') {
    m_address = std::string(1, '\0') + address.substr(1);
  } else if (address[0] == '/') {
    m_address = address;
  } else {
    return;
  }
  m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

NotifySocket::~NotifySocket() {
  if (m_fd >= 0) close(m_fd);
}

NotifySocket::NotifySocket(NotifySocket&& other) noexcept : m_fd(other.m_fd), m_address(std::move(other.m_address)) {
  other.m_fd = -1;
}

bool NotifySocket::Send(const std::string& message) {
  if (m_fd < 0 || message.empty()) return false;
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  std::memcpy(to.sun_path, m_address.data(), m_address.size());
  // An abstract name is exactly its bytes, without a terminating zero.
  const auto length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + m_address.size() + (m_address[0] == '\0' ? 0 : 1));
  for (;;) {
    const ssize_t n =
        sendto(m_fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), length);
    if (n >= 0) return static_cast<size_t>(n) == message.size();
    if (errno != EINTR) return false;
  }
}

int64_t WatchdogIntervalMs() {
  const char* usec = std::getenv("WATCHDOG_USEC");
  if (usec == nullptr || usec[0] == '\0') return 0;
  if (const char* pid = std::getenv("WATCHDOG_PID"); pid != nullptr && pid[0] != '\0') {
    char* end = nullptr;
    const long long owner = std::strtoll(pid, &end, 10);
    if (*end != '\0' || owner != static_cast<long long>(getpid())) return 0;  // meant for another process
  }
  char* end = nullptr;
  const unsigned long long value = std::strtoull(usec, &end, 10);
  if (*end != '\0' || value == 0) return 0;
  return static_cast<int64_t>(value / 1000 == 0 ? 1 : value / 1000);
}

namespace {

std::string WallClock() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

void ServiceReport::Cycle(const CycleFields& fields, int64_t nowMs) {
  m_haveCycle = true;
  m_last = fields;
  m_lastCycleMs = nowMs;
  if (fields.sent > 0) {
    m_sendFailing = false;
    m_ready = true;
  } else if (fields.sent < 0 && !m_sendFailing) {
    m_sendFailing = true;
    m_lastFailure = "sends failing since " + WallClock();
  }
  // Nothing to send: the empty list is on the air as it can be.
  if (fields.sections == 0) {
    m_sendFailing = false;
    m_ready = true;
  }
}

void ServiceReport::Failure(const std::string& what) { m_lastFailure = what + " at " + WallClock(); }

bool ServiceReport::Healthy(int64_t nowMs, uint32_t sendRateMs) const {
  if (!m_ready || m_sendFailing) return false;
  if (sendRateMs == 0xFFFFFFFFu) return true;  // no next cycle is due: nothing to be overdue
  return nowMs - m_lastCycleMs <= static_cast<int64_t>(sendRateMs) + kCycleGraceMs;
}

std::string ServiceReport::StatusText(int programs) const {
  std::string text;
  if (!m_haveCycle) {
    text = "starting";
  } else {
    text =
        StringPrintf("%s version %u, %d program%s, %d section%s", m_ready ? "on the air:" : "starting:", m_last.version,
                     programs, programs == 1 ? "" : "s", m_last.sections, m_last.sections == 1 ? "" : "s");
  }
  if (m_sendFailing) text += "; SENDS FAILING";
  if (!m_lastFailure.empty()) text += "; last failure: " + m_lastFailure;
  return text;
}

std::string ServiceReport::Poll(int64_t nowMs, int programs, uint32_t sendRateMs) {
  // With a period of all ones the first cycle is the only one until a
  // change: no later cycle will report its send.
  if (!m_ready && m_haveCycle && sendRateMs == 0xFFFFFFFFu && !m_sendFailing) m_ready = true;
  std::string message;
  if (m_ready && !m_readyTold) {
    m_readyTold = true;
    message += "READY=1\n";
  }
  const std::string status = StatusText(programs);
  if (status != m_toldStatus) {
    m_toldStatus = status;
    message += "STATUS=" + status + "\n";
  }
  // Fed at four times the rate asked for, so a late poll or two never lets
  // it run out while the air is kept.
  if (m_watchdogMs > 0 && Healthy(nowMs, sendRateMs) && (!m_pinged || nowMs - m_lastPingMs >= m_watchdogMs / 4)) {
    m_pinged = true;
    m_lastPingMs = nowMs;
    message += "WATCHDOG=1\n";
  }
  return message;
}

int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
