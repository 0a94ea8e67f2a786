#include "broadcast/log_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <utility>

namespace {

void CopyLine(char* room, const char* line) {
  const size_t n = strnlen(line, LogQueue::kLineRoom - 1);
  std::memcpy(room, line, n);
  room[n] = '\0';
}

}  // namespace

LogQueue::Entry::Entry(const char* text, const CycleFields& f) : fields(f) { CopyLine(line, text); }

LogQueue::LogQueue(size_t maxEntries) : m_maxEntries(maxEntries) {}

LogQueue::~LogQueue() {
  if (m_wakeFd >= 0) close(m_wakeFd);
}

bool LogQueue::Push(const char* line, const CycleFields& fields) {
  int wake = -1;
  bool first;
  {
    std::lock_guard lock(m_mutex);
    if (m_entries.size() >= m_maxEntries) {
      ++m_dropped;
      return false;
    }
    Entry& e = m_entries.emplace_back();
    CopyLine(e.line, line);
    e.fields = fields;
    first = m_entries.size() == 1;
    if (m_armed) {
      m_armed = false;
      wake = m_wakeFd;
    }
  }
  // Outside the lock: the taker never waits for the loop's system call.
  if (wake >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wake, &one, sizeof one);
  }
  return first;
}

std::vector<LogQueue::Entry> LogQueue::Take() {
  std::vector<Entry> taken;
  std::lock_guard lock(m_mutex);
  taken.swap(m_entries);
  return taken;
}

bool LogQueue::Take(std::vector<Entry>& batch, bool arm) {
  batch.clear();
  std::lock_guard lock(m_mutex);
  batch.swap(m_entries);
  if (arm) m_armed = m_wakeFd >= 0;
  return !batch.empty();
}

int LogQueue::WakeFd() {
  std::lock_guard lock(m_mutex);
  if (m_wakeFd < 0) {
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_armed = m_wakeFd >= 0;  // the first line wakes the taker
  }
  return m_wakeFd;
}

void LogQueue::ClearWake() {
  // Without the lock: only the taker's thread sets the descriptor.
  if (m_wakeFd < 0) return;
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(m_wakeFd, &count, sizeof count);
}

uint64_t LogQueue::Dropped() const {
  std::lock_guard lock(m_mutex);
  return m_dropped;
}
