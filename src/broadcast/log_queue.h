// Hands the broadcast loop's log lines, with their fields, to the thread
// that shows them: the headless runner's main thread or the window thread.
// The loop's side takes a short lock and never waits for the other; the
// other side takes everything queued in one batch. Bounded: when the shower
// falls behind (a stuck pipe, a blocked window), lines beyond the bound are
// dropped and counted rather than letting memory grow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "broadcast/broadcast_loop.h"

class LogQueue : public LogSink {
 public:
  struct Entry {
    std::string line;
    CycleFields fields;
  };

  explicit LogQueue(size_t maxEntries = 1000) : m_maxEntries(maxEntries) {}

  // Any thread. Queues the line, or drops and counts it when the queue is
  // full. True when it is the first line since the last Take: the taker
  // may want to be told; later ones find it told already.
  bool Push(const char* line, const CycleFields& fields);
  void AppendLog(const char* line, const CycleFields& fields) override { Push(line, fields); }

  // Everything queued so far, oldest first.
  std::vector<Entry> Take();
  // Lines dropped since the queue was made.
  uint64_t Dropped() const;

 private:
  const size_t m_maxEntries;
  mutable std::mutex m_mutex;
  std::vector<Entry> m_entries;  // under m_mutex
  uint64_t m_dropped = 0;        // under m_mutex
};
