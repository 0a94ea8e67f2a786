// Hands the broadcast loop's lines to the runner's main thread. AppendLog
// takes a short lock and queues the line; it never waits for the line to be
// written. The main thread takes the lines in batches (every 200 ms), which
// spares a wake-up per cycle. When standard output is stuck (a full pipe),
// lines beyond a bound are dropped and counted rather than letting memory
// grow.
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
  explicit LineQueue(size_t maxLines = 1000) : m_maxLines(maxLines) {}

  void AppendLog(const char* line) override;
  // Everything queued so far, oldest first.
  std::vector<std::string> Take();
  uint64_t Dropped() const;

 private:
  const size_t m_maxLines;
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
