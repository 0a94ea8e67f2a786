#include "headless/line_queue.h"

#include <cstdio>

void LineQueue::AppendLog(const char* line) {
  std::lock_guard lock(m_mutex);
  if (m_lines.size() >= m_maxLines) {
    ++m_dropped;
    return;
  }
  m_lines.emplace_back(line);
}

std::vector<std::string> LineQueue::Take() {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> lines(std::make_move_iterator(m_lines.begin()), std::make_move_iterator(m_lines.end()));
  m_lines.clear();
  return lines;
}

uint64_t LineQueue::Dropped() const {
  std::lock_guard lock(m_mutex);
  return m_dropped;
}

bool ChangeFilter::Keep(const std::string& line) {
  int version = -1;
  int sent = 0;
  const size_t v = line.find("section(");
  const size_t s = line.find("sent:");
  if (v == std::string::npos || s == std::string::npos) return true;
  std::sscanf(line.c_str() + v, "section(%d)", &version);
  std::sscanf(line.c_str() + s, "sent:%d", &sent);
  const bool keep = m_first || version != m_version || sent != m_sent;
  m_first = false;
  m_version = version;
  m_sent = sent;
  return keep;
}
