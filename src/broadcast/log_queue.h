// Hands the broadcast loop's log lines, with their fields, to the thread
// that shows them: the headless runner's main thread or the window thread.
// The loop's side takes a short lock and never waits for the other; the
// other side takes everything queued in one batch. Bounded: when the shower
// falls behind (a stuck pipe, a blocked window), lines beyond the bound are
// dropped and counted rather than letting memory grow.
//
// A line is copied into a fixed slot: a steady flow of lines allocates
// nothing on either side once the taker keeps its batch (Take(batch, arm)).
// A taker that sleeps in poll(2) can arm the queue: the next line queued
// after an armed Take makes WakeFd() readable, and no other line costs the
// loop a system call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "broadcast/broadcast_loop.h"

class LogQueue : public LogSink {
 public:
  // As much as the loop's line buffer holds, its terminator included (the
  // loop's own lines take at most 97 bytes; the window shows whatever it is
  // handed); a longer line is cut to fit.
  static constexpr size_t kLineRoom = 1024;
  struct Entry {
    // Leaves the line's room as it is: a slot costs only the bytes its line
    // takes, not a clearing of the whole room.
    Entry() {}  // NOLINT(modernize-use-equals-default): = default would zero the line
    Entry(const char* text, const CycleFields& f);
    char line[kLineRoom];
    CycleFields fields;
  };

  explicit LogQueue(size_t maxEntries = 1000);
  ~LogQueue() override;
  LogQueue(const LogQueue&) = delete;
  LogQueue& operator=(const LogQueue&) = delete;

  // Any thread. Queues the line, or drops and counts it when the queue is
  // full. True when it is the first line since the last Take: the taker
  // may want to be told; later ones find it told already.
  bool Push(const char* line, const CycleFields& fields);
  void AppendLog(const char* line, const CycleFields& fields) override { Push(line, fields); }

  // Everything queued so far, oldest first.
  std::vector<Entry> Take();
  // Everything queued so far into `batch` (emptied first), oldest first;
  // the two sides swap their vectors, so both keep their room. With `arm`,
  // the next line queued after this makes WakeFd() readable. True when
  // lines were taken.
  bool Take(std::vector<Entry>& batch, bool arm);

  // An eventfd, made (and the queue armed) on the first call, readable once
  // an armed queue takes a line (-1 when none can be made; the taker then
  // has to poll). The queue owns it.
  int WakeFd();
  // Reads the wake-up so that the descriptor is no longer readable.
  void ClearWake();

  // How many lines it holds before it drops them.
  size_t Capacity() const { return m_maxEntries; }
  // Lines dropped since the queue was made.
  uint64_t Dropped() const;

 private:
  const size_t m_maxEntries;
  mutable std::mutex m_mutex;
  std::vector<Entry> m_entries;  // under m_mutex
  uint64_t m_dropped = 0;        // under m_mutex
  bool m_armed = false;          // under m_mutex
  int m_wakeFd = -1;             // set by the taker under m_mutex; the taker reads it without
};
