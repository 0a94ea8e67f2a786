#include "broadcast/log_queue.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

CycleFields Fields(int n) { return {static_cast<unsigned>(n % 32), 1, static_cast<unsigned>(n % 256), 44, n}; }

std::vector<std::string> Lines(const std::vector<LogQueue::Entry>& entries) {
  std::vector<std::string> lines;
  for (const LogQueue::Entry& e : entries) lines.push_back(e.line);
  return lines;
}

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

}  // namespace

TEST(LogQueue, HandsOverInOrderDropsPastItsBoundAndTellsTheFirstOfABatch) {
  LogQueue q(3);
  EXPECT_TRUE(q.Push("a\r\n", Fields(1)));   // the taker is to be told
  EXPECT_FALSE(q.Push("b\r\n", Fields(2)));  // it was told already
  EXPECT_FALSE(q.Push("c\r\n", Fields(3)));
  EXPECT_FALSE(q.Push("d\r\n", Fields(4)));  // past the bound: dropped
  const std::vector<LogQueue::Entry> taken = q.Take();
  EXPECT_EQ(Lines(taken), (std::vector<std::string>{"a\r\n", "b\r\n", "c\r\n"}));
  EXPECT_EQ(taken[2].fields, Fields(3));
  EXPECT_EQ(q.Dropped(), 1u);
  EXPECT_TRUE(q.Take().empty());
  q.AppendLog("e\r\n", Fields(5));  // room again once taken, and a new batch
  EXPECT_FALSE(q.Push("f\r\n", Fields(6)));
  EXPECT_EQ(Lines(q.Take()), (std::vector<std::string>{"e\r\n", "f\r\n"}));
}

// Two threads hand lines over while a third takes them: every line arrives
// once, each thread's in its order, or is counted as dropped. Run under
// ThreadSanitizer by the test command.
TEST(LogQueue, LinesFromSeveralThreadsArriveWholeAndInOrder) {
  constexpr int kPerThread = 20000;
  LogQueue q(64);  // small, so that the bound is reached now and then
  std::atomic<int> done{0};
  auto produce = [&](char who) {
    for (int i = 0; i < kPerThread; ++i) {
      const std::string line = who + std::to_string(i) + "\r\n";
      q.Push(line.c_str(), Fields(i));
    }
    done.fetch_add(1);
  };
  std::thread a(produce, 'a'), b(produce, 'b');
  std::vector<LogQueue::Entry> got;
  auto drain = [&] {
    for (LogQueue::Entry& e : q.Take()) got.push_back(std::move(e));
  };
  while (done.load() < 2) drain();
  a.join();
  b.join();
  drain();

  EXPECT_EQ(got.size() + q.Dropped(), 2u * kPerThread);
  int last[2] = {-1, -1};
  for (const LogQueue::Entry& e : got) {
    ASSERT_TRUE(e.line[0] == 'a' || e.line[0] == 'b') << e.line;
    const int n = std::stoi(std::string(e.line + 1));
    EXPECT_EQ(std::string(e.line), std::string(1, e.line[0]) + std::to_string(n) + "\r\n");
    EXPECT_EQ(e.fields, Fields(n));
    int& previous = last[e.line[0] - 'a'];
    EXPECT_GT(n, previous) << e.line;
    previous = n;
  }
}

// The taker sleeping in poll(2) is woken by the first line after it armed
// the queue and by no other: a line per cycle costs the loop no system call
// while the taker is busy or batching.
TEST(LogQueue, AnArmedQueueWakesItsTakerForTheNextLineOnly) {
  LogQueue q;
  const int fd = q.WakeFd();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(q.WakeFd(), fd);
  EXPECT_FALSE(Readable(fd));
  q.Push("a\r\n", Fields(1));  // armed from the start
  EXPECT_TRUE(Readable(fd));
  q.ClearWake();
  EXPECT_FALSE(Readable(fd));
  q.Push("b\r\n", Fields(2));  // the wake-up was spent
  EXPECT_FALSE(Readable(fd));

  std::vector<LogQueue::Entry> batch;
  EXPECT_TRUE(q.Take(batch, false));
  EXPECT_EQ(Lines(batch), (std::vector<std::string>{"a\r\n", "b\r\n"}));
  q.Push("c\r\n", Fields(3));
  EXPECT_FALSE(Readable(fd));  // not armed: the taker polls by its clock
  EXPECT_TRUE(q.Take(batch, true));
  EXPECT_EQ(Lines(batch), (std::vector<std::string>{"c\r\n"}));
  EXPECT_FALSE(q.Take(batch, true));  // nothing queued; armed still
  EXPECT_TRUE(batch.empty());
  q.Push("d\r\n", Fields(4));
  q.Push("e\r\n", Fields(5));
  EXPECT_TRUE(Readable(fd));
  q.ClearWake();
  EXPECT_FALSE(Readable(fd));  // one wake-up for the two
  EXPECT_TRUE(q.Take(batch, false));
  EXPECT_EQ(batch.back().fields, Fields(5));
}

// Lines go into fixed slots: the two sides swap their vectors, so a steady
// flow reuses the same two buffers; a line past the slot is cut, never
// written beyond it.
TEST(LogQueue, BatchesReuseTheirRoomAndLongLinesAreCut) {
  LogQueue q;
  std::vector<LogQueue::Entry> batch;
  const LogQueue::Entry* seen[4];
  for (const LogQueue::Entry*& data : seen) {
    for (int i = 0; i < 10; ++i) q.Push("play list\r\n", Fields(i));
    ASSERT_TRUE(q.Take(batch, false));
    ASSERT_EQ(batch.size(), 10u);
    data = batch.data();
  }
  EXPECT_EQ(seen[2], seen[0]);
  EXPECT_EQ(seen[3], seen[1]);

  const std::string longLine(LogQueue::kLineRoom + 100, 'x');
  q.Push(longLine.c_str(), Fields(1));
  ASSERT_TRUE(q.Take(batch, false));
  EXPECT_EQ(std::string(batch[0].line), longLine.substr(0, LogQueue::kLineRoom - 1));
}
