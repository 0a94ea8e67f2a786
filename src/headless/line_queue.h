// Hands the broadcast loop's lines to the runner's main thread. AppendLog
// takes a short lock, queues the line and wakes the main thread through an
// eventfd; it never waits for the line to be written. When standard output
// is stuck (a full pipe), lines beyond a bound are dropped and counted
// rather than letting memory grow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "broadcast/broadcast_loop.h"

class LineQueue : public LogSink {
 public:
  explicit LineQueue(size_t maxLines = 1000);
  ~LineQueue() override;
  LineQueue(const LineQueue&) = delete;
  LineQueue& operator=(const LineQueue&) = delete;

  void AppendLog(const char* line) override;
  // Readable when lines are waiting; poll() it, then Take().
  int WakeFd() const { return m_eventFd; }
  // Everything queued so far, oldest first; clears the wake-up.
  std::vector<std::string> Take();
  uint64_t Dropped() const;

 private:
  const size_t m_maxLines;
  int m_eventFd = -1;
  mutable std::mutex m_mutex;
  std::deque<std::string> m_lines;
  uint64_t m_dropped = 0;
};

// Keeps a line only when its version or its sent value differs from the
// previous line's: a quiet journal that still shows every change and every
// failed send.
class ChangeFilter {
 public:
  bool Keep(const std::string& line);

 private:
  bool m_first = true;
  int m_version = -1;
  int m_sent = 0;
};
