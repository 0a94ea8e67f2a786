#include "headless/log_pacer.h"

#include <algorithm>

bool LogPacer::Arm(int64_t nowMs, bool byLine) {
  if (!byLine) return false;
  const bool quiet = !m_lineWoke || nowMs - m_lastLineWake >= m_batchMs;
  m_lineWoke = true;
  m_lastLineWake = nowMs;
  return quiet;
}

void LogPacer::Took(int64_t nowMs, bool armed, size_t taken) {
  m_holding = !armed || !m_canWake;
  int64_t hold = m_batchMs;
  // At the rate the last batch came in, a quarter of the queue fills in
  // `fills` milliseconds: the next batch comes no later, and no sooner
  // than every 10 ms.
  if (m_room > 0 && taken > 0 && m_lastTake >= 0) {
    const int64_t span = std::max<int64_t>(1, nowMs - m_lastTake);
    const int64_t fills = span * static_cast<int64_t>(m_room / 4) / static_cast<int64_t>(taken);
    hold = std::clamp<int64_t>(fills, std::min<int64_t>(10, m_batchMs), m_batchMs);
  }
  m_lastTake = nowMs;
  m_holdUntil = nowMs + hold;
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
