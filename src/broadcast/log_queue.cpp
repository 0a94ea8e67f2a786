#include "broadcast/log_queue.h"

#include <utility>

bool LogQueue::Push(const char* line, const CycleFields& fields) {
  std::lock_guard lock(m_mutex);
  if (m_entries.size() >= m_maxEntries) {
    ++m_dropped;
    return false;
  }
  m_entries.push_back({line, fields});
  return m_entries.size() == 1;
}

std::vector<LogQueue::Entry> LogQueue::Take() {
  std::vector<Entry> taken;
  std::lock_guard lock(m_mutex);
  taken.swap(m_entries);
  return taken;
}

uint64_t LogQueue::Dropped() const {
  std::lock_guard lock(m_mutex);
  return m_dropped;
}
