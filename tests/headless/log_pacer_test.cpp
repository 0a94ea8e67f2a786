#include "headless/log_pacer.h"

#include <gtest/gtest.h>

// What the runner's main thread does at each wake-up, for lines coming at
// different rates: a slow loop's lines each wake it once and are taken at
// once; a fast loop's lines are taken in batches, one per period; an idle
// runner sleeps without time-out.
TEST(LogPacer, TakesSlowLinesAtOnceAndFastOnesInBatches) {
  LogPacer pacer(200, 0, true);
  EXPECT_TRUE(pacer.Watching());
  EXPECT_EQ(pacer.TimeoutMs(0), -1);

  // A line each second: each wakes the thread, which arms the queue again.
  for (int64_t t = 1000; t <= 3000; t += 1000) {
    EXPECT_TRUE(pacer.Arm(t, true)) << t;
    pacer.Took(t, true);
    EXPECT_TRUE(pacer.Watching());
    EXPECT_EQ(pacer.TimeoutMs(t), -1);
  }

  // A line every 20 ms: the second within the period starts batching.
  EXPECT_TRUE(pacer.Arm(5000, true));
  pacer.Took(5000, true);
  EXPECT_FALSE(pacer.Arm(5020, true));
  pacer.Took(5020, false);
  EXPECT_FALSE(pacer.Watching());
  EXPECT_EQ(pacer.TimeoutMs(5020), 200);
  EXPECT_EQ(pacer.TimeoutMs(5100), 120);
  EXPECT_EQ(pacer.TimeoutMs(5300), 0);  // overdue: at once
  // The period's end takes a batch by the clock, not armed: another period.
  EXPECT_FALSE(pacer.Arm(5220, false));
  pacer.Took(5220, false);
  EXPECT_EQ(pacer.TimeoutMs(5220), 200);
  // The lines stop: the next take finds none and arms the queue.
  pacer.Took(5420, true);
  EXPECT_TRUE(pacer.Watching());
  EXPECT_EQ(pacer.TimeoutMs(5420), -1);
}

TEST(LogPacer, FeedsTheWatchdogAndPollsWithoutAWakeDescriptor) {
  LogPacer watched(200, 8000, true);
  EXPECT_EQ(watched.TimeoutMs(0), 1000);  // idle, but the watchdog is fed
  watched.Took(0, false);
  EXPECT_EQ(watched.TimeoutMs(0), 200);

  LogPacer blind(200, 0, false);
  EXPECT_FALSE(blind.Watching());
  blind.Took(0, true);  // an arm without a descriptor wakes nobody
  EXPECT_FALSE(blind.Watching());
  EXPECT_EQ(blind.TimeoutMs(50), 150);
}

// A loop that writes a line a millisecond would fill the queue (1000 lines)
// within a one-second period: the period shrinks to the time a quarter of
// it takes to fill, and grows back when the flow slows.
TEST(LogPacer, AFastFlowShortensThePeriodBeforeTheQueueFills) {
  LogPacer pacer(1000, 0, true, 1000);
  EXPECT_TRUE(pacer.Arm(0, true));
  pacer.Took(0, true, 1);
  EXPECT_FALSE(pacer.Arm(1, true));
  pacer.Took(1, false, 1);
  EXPECT_EQ(pacer.TimeoutMs(1), 250);  // 1 line in 1 ms
  pacer.Took(251, false, 250);
  EXPECT_EQ(pacer.TimeoutMs(251), 250);
  pacer.Took(501, false, 25);  // 100 lines a second
  EXPECT_EQ(pacer.TimeoutMs(501), 1000);
  pacer.Took(1501, false, 100000);  // faster than anything: still 10 ms apart
  EXPECT_EQ(pacer.TimeoutMs(1501), 10);
}
