// When the runner's main thread takes the loop's log lines. It sleeps until
// a line is queued (the queue's wake descriptor), a signal comes or the
// watchdog is due, so an idle runner (a send period of all ones, a list that
// waits for a change) does not wake at all. While lines keep coming, one a
// cycle, it takes them in batches at most once per batch period instead of
// once per line: each wake-up of a thread costs more than the lines it
// writes.
//
// Per wake-up: Arm() says whether the Take is to arm the queue; Took() is
// told what it took; Watching() and TimeoutMs() shape the next poll(2).
#pragma once

#include <cstddef>
#include <cstdint>

class LogPacer {
 public:
  // batchMs: the shortest time between two batches while lines flow.
  // watchdogMs: the service watchdog's interval, 0 for none; the thread
  // wakes often enough to feed it. canWake: the queue has a wake
  // descriptor; without one the thread takes a batch every batchMs.
  // room: how many lines the queue holds before it drops them (0: no
  // bound); a flow fast enough to fill a quarter of it within a period
  // shortens the period, so a fast loop's lines are not dropped.
  LogPacer(int64_t batchMs, int64_t watchdogMs, bool canWake, size_t room = 0)
      : m_batchMs(batchMs), m_watchdogMs(watchdogMs), m_canWake(canWake), m_room(room) {}

  // For a wake-up at nowMs; byLine: the queue's descriptor woke it. A line
  // after a quiet spell is taken at once and the queue armed again: a slow
  // loop's lines each wake the thread once. A line that comes sooner than
  // a batch period after the last such one starts batching.
  bool Arm(int64_t nowMs, bool byLine);
  // What the Take did: whether it armed the queue. One that took lines
  // without arming starts a batch period, during which only signals and
  // the watchdog wake the thread; at its end the lines queued meanwhile are
  // taken, or, when there are none, the queue is armed.
  // taken: how many lines it took.
  void Took(int64_t nowMs, bool armed, size_t taken = 0);

  // Whether the next wait watches the queue's descriptor.
  bool Watching() const { return m_canWake && !m_holding; }
  // poll(2)'s time-out for the next wait, from nowMs; -1 for none.
  int TimeoutMs(int64_t nowMs) const;

 private:
  const int64_t m_batchMs;
  const int64_t m_watchdogMs;
  const bool m_canWake;
  const size_t m_room;
  int64_t m_lastTake = -1;
  bool m_holding = false;
  int64_t m_holdUntil = 0;
  bool m_lineWoke = false;
  int64_t m_lastLineWake = 0;
};
