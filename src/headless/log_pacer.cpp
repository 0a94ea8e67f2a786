#include "headless/log_pacer.h"

#include <algorithm>

bool LogPacer::Arm(int64_t nowMs, bool byLine) {
  if (!byLine) return false;
  const bool quiet = !m_lineWoke || nowMs - m_lastLineWake >= m_batchMs;
  m_lineWoke = true;
  m_lastLineWake = nowMs;
  return quiet;
}

void LogPacer::Took(int64_t nowMs, bool armed) {
  m_holding = !armed || !m_canWake;
  m_holdUntil = nowMs + m_batchMs;
}

int LogPacer::TimeoutMs(int64_t nowMs) const {
  int64_t timeout = -1;
  if (m_holding || !m_canWake) timeout = std::max<int64_t>(0, m_holdUntil - nowMs);
  // The service report feeds the watchdog at a quarter of its interval;
  // waking at an eighth keeps a ping from slipping past it.
  if (m_watchdogMs > 0) {
    const int64_t every = std::max<int64_t>(1, m_watchdogMs / 8);
    timeout = timeout < 0 ? every : std::min(timeout, every);
  }
  return static_cast<int>(std::min<int64_t>(timeout, 24 * 3600 * 1000));
}
