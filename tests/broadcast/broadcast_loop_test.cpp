#include "broadcast/broadcast_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <thread>

#include "broadcast/log_queue.h"
#include "test_support.h"

namespace {

class BroadcastLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgramTable(); }
  void TearDown() override { ResetProgramTable(); }

  void SetTable(const std::vector<ProgramEntry>& programs) {
    std::lock_guard lock(g_TableGuard);
    for (size_t i = 0; i < programs.size(); ++i) g_Programs[i] = programs[i];
    g_nProgramCount = static_cast<int>(programs.size());
  }

  RecordingSocket socket;
  CountingPause pause;
  FixedClock clock;
  RecordingSink sink;
  std::atomic<uint32_t> sendRate{0};
};

}  // namespace

TEST(CycleLine, ExactFormat) {
  char line[1024];
  FormatCycleLine(line, sizeof line, {5, 2, 255, 1068, -3});
  EXPECT_STREQ(line, "play list:update,section(05):2,255,len:1068,sent:-3,\r\n");
  FormatCycleLine(line, sizeof line, {31, 1, 0, 24, 188});
  EXPECT_STREQ(line, "play list:update,section(31):1,0,len:24,sent:188,\r\n");
  // Byte for byte what the printf format gives, at the fields' extremes and
  // when the buffer is too short.
  const CycleFields cases[] = {{0, 0, 0, 0, 0},
                               {9, 6, 9, 10, -1},
                               {100, -7, 4294967295u, INT_MIN, INT_MAX},
                               {4294967295u, INT_MAX, 255, -99, INT_MIN}};
  for (const CycleFields& f : cases)
    for (size_t size : {sizeof line, size_t{40}, size_t{1}}) {
      char expected[1024];
      const int n = std::snprintf(expected, size, "play list:update,section(%02d):%d,%d,len:%d,sent:%d,\r\n",
                                  static_cast<int>(f.version), f.sections, static_cast<int>(f.rotation), f.len, f.sent);
      EXPECT_EQ(FormatCycleLine(line, size, f), n);
      EXPECT_STREQ(line, expected) << size;
    }
}

TEST(CycleLine, VersionSteps) {
  EXPECT_EQ(NextVersion(0), 1);
  EXPECT_EQ(NextVersion(30), 31);
  EXPECT_EQ(NextVersion(31), 0);
  EXPECT_EQ(NextVersion(40), 0);   // a loaded value above 31 goes to 0 at its first step
  EXPECT_EQ(NextVersion(255), 0);  // eight-bit add wraps to 0, which stays
}

TEST(StopEventTest, AutoResetAndKeptUntilWaitedFor) {
  StopEvent e;
  EXPECT_FALSE(e.Wait(0));
  e.Set();
  EXPECT_TRUE(e.Wait(0xFFFFFFFFu));  // set before the wait: not lost
  EXPECT_FALSE(e.Wait(0));           // and consumed by it
}

// Across threads: a set cuts a long timed wait short, a wake for an
// untimed wait lets a timed one run out and stays for the next untimed one,
// and no set or wake is lost however the two threads interleave.
TEST(StopEventTest, WakesAcrossThreadsAreNeverLost) {
  StopEvent e;
  e.WakeUntimed();
  EXPECT_FALSE(e.Wait(1));            // the timed wait ignores it ...
  EXPECT_FALSE(e.Wait(0xFFFFFFFFu));  // ... and the untimed one takes it
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    e.Set();
  });
  EXPECT_TRUE(e.Wait(60'000));
  setter.join();
  // Ping-pong: each side waits for the other's signal; a lost one hangs.
  StopEvent back;
  std::thread partner([&] {
    for (int i = 0; i < 2000; ++i) {
      EXPECT_FALSE(e.Wait(0xFFFFFFFFu));
      back.Set();
    }
  });
  for (int i = 0; i < 2000; ++i) {
    e.WakeUntimed();
    EXPECT_TRUE(back.Wait(60'000));
  }
  partner.join();
}

TEST_F(BroadcastLoopTest, FirstCycleSendsTheLoadedVersionAndStepsIt) {
  SetTable({MakeProgram(101, "abc", "239.1.2.3", 1234, 2, 1)});
  g_nVersion = 40;
  g_bListChanged = 1;  // the start-up refresh raised it
  BroadcastLoop loop(socket, pause, clock, sink, sendRate);
  loop.Start(0x0100007Fu);
  const auto lines = sink.WaitFor(3);
  loop.Stop();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "play list:update,section(00):1,0,len:44,sent:0,\r\n");
  EXPECT_EQ(lines[1], "play list:update,section(00):1,1,len:44,sent:188,\r\n");
  const auto packets = socket.Packets();
  ASSERT_GE(packets.size(), 2u);
  EXPECT_EQ(packets[0][5 + 5], 0x51);  // 40 goes out as its low five bits, 8
  EXPECT_EQ(packets[1][5 + 5], 0x41);  // then 0
  EXPECT_TRUE(socket.opened);
  EXPECT_EQ(socket.boundTo, 0x0100007Fu);
  EXPECT_TRUE(socket.closed);
}

TEST_F(BroadcastLoopTest, AllOnesPeriodWaitsForTheStopAloneAndVersion31WrapsToZero) {
  sendRate = 0xFFFFFFFFu;  // one cycle, then wait for the stop alone
  g_nVersion = 31;
  g_bListChanged = 1;
  BroadcastLoop loop(socket, pause, clock, sink, sendRate);
  loop.Start(0);
  ASSERT_EQ(sink.WaitFor(1).size(), 1u);
  loop.Stop();
  EXPECT_EQ(loop.Cycles(), 1u);  // all ones: no time-out
  EXPECT_EQ(g_nVersion.load(), 0);
  EXPECT_EQ(g_bListChanged.load(), 0);
}

// With no time-out the loop waits for the stop alone; a change wakes it for
// the cycle that steps the version and one rotation of the new version, so
// every section of the changed list reaches the air once. A wake that comes
// while the loop is busy is not lost.
TEST_F(BroadcastLoopTest, AChangeWakesAWaitWithoutTimeOutForOneRotation) {
  std::vector<ProgramEntry> programs;
  // 27 programs with 20-byte names fill a section: 28 take two.
  for (int i = 0; i < 28; ++i) programs.push_back(MakeProgram(i + 1, std::string(20, 'n'), "224.2.2.1", 1, 0, 0));
  SetTable(programs);
  sendRate = 0xFFFFFFFFu;
  g_nVersion = 5;
  g_bListChanged = 1;
  BroadcastLoop loop(socket, pause, clock, sink, sendRate);
  loop.Wake();  // before the start: nothing to wake, the start-up cycle stays one
  loop.Start(0);
  ASSERT_EQ(sink.WaitFor(1).size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(loop.Cycles(), 1u);

  for (int change = 0; change < 2; ++change) {
    const uint64_t before = loop.Cycles();
    g_bListChanged = 1;
    loop.Wake();
    const auto lines = sink.WaitFor(before + 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(loop.Cycles(), before + 3) << "the stepping cycle and one rotation of two sections";
    EXPECT_EQ(lines.size(), before + 3);
  }
  loop.Stop();
  // The sections after each stepping cycle: 0 and 1 of the new version.
  const auto packets = socket.Packets();
  std::vector<std::pair<int, int>> sent;  // (version, section) of each section's first packet
  for (const auto& p : packets)
    if (p[1] & 0x40) sent.emplace_back((p[5 + 5] >> 1) & 0x1F, p[5 + 6]);
  const std::vector<std::pair<int, int>> want = {{5, 0}, {6, 1}, {7, 0}, {7, 1}, {7, 0}, {8, 1}, {8, 0}};
  EXPECT_EQ(sent, want);
}

// The loop keeps the program entries encoded between publications; a
// published change, of a field or of the count, is on the air from the
// cycle right after it, byte for byte as the table encodes.
TEST_F(BroadcastLoopTest, APublishedChangeIsOnTheAirFromTheNextCycle) {
  SetTable({MakeProgram(101, "abc", "239.1.2.3", 1234, 2, 1)});
  sendRate = 0xFFFFFFFFu;  // one cycle per wake, then the stop alone
  BroadcastLoop loop(socket, pause, clock, sink, sendRate);
  loop.Start(0);
  ASSERT_EQ(sink.WaitFor(1).size(), 1u);

  // An edit as the editing commands make it: the change and the refresh
  // in one hold of the guard, then the wake.
  std::vector<RowTexts> rows;
  auto publish = [&](int count, size_t lines, auto&& change) {
    {
      std::lock_guard lock(g_TableGuard);
      change();
      RefreshTableLocked(count, false, rows);
    }
    loop.Wake();
    sink.WaitFor(lines);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(loop.Cycles(), lines) << "the cycle that steps the version, then one rotation";
  };
  publish(1, 3, [] {
    CopyField(g_Programs[0].szName, "a longer name");
    g_Programs[0].nPort = 4321;
  });
  publish(2, 5, [] { g_Programs[1] = MakeProgram(7, "second", "224.9.9.9", 99, 0, 0); });
  loop.Stop();

  auto section = [](std::vector<ProgramEntry> programs, uint8_t version) {
    SectionBuffers b{};
    uint8_t last = 0;
    const int len =
        BuildSection(b, 0, last, 0, {programs.data(), static_cast<int>(programs.size()), version}, FixedClock());
    return std::vector<uint8_t>(b[0], b[0] + len);
  };
  const ProgramEntry first = MakeProgram(101, "abc", "239.1.2.3", 1234, 2, 1);
  const ProgramEntry changed = MakeProgram(101, "a longer name", "239.1.2.3", 4321, 2, 1);
  const ProgramEntry second = MakeProgram(7, "second", "224.9.9.9", 99, 0, 0);
  const std::vector<std::vector<uint8_t>> want = {section({first}, 0), section({changed}, 0), section({changed}, 1),
                                                  section({changed, second}, 1), section({changed, second}, 2)};
  const auto packets = socket.Packets();
  ASSERT_EQ(packets.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    const std::vector<uint8_t> got(packets[i].begin() + 5, packets[i].begin() + 5 + static_cast<long>(want[i].size()));
    EXPECT_EQ(Hex(got.data(), got.size()), Hex(want[i].data(), want[i].size())) << "cycle " << i;
  }
}

TEST_F(BroadcastLoopTest, FailedSendsShowInTheNextLine) {
  std::vector<ProgramEntry> programs;
  for (int i = 0; i < 12; ++i) programs.push_back(MakeProgram(i + 1, std::string(20, 'n'), "224.2.2.1", 1, 0, 0));
  SetTable(programs);  // 12 * 37 + 24 = 468 bytes: three packets
  socket.fail = true;
  BroadcastLoop loop(socket, pause, clock, sink, sendRate);
  loop.Start(0);
  const auto lines = sink.WaitFor(2);
  loop.Stop();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "play list:update,section(00):1,1,len:468,sent:-3,\r\n");
}

// Sections of different sizes take turns on the air; each line comes with
// the fields it shows, through the queue that the runner and the window take
// them from while the loop runs.
TEST_F(BroadcastLoopTest, EachLineComesWithTheFieldsItShows) {
  std::vector<ProgramEntry> programs;
  for (int i = 0; i < 28; ++i) programs.push_back(MakeProgram(i + 1, std::string(20, 'n'), "224.2.2.1", 1, 0, 0));
  SetTable(programs);  // 27 programs fill the first section (six packets), one is left for the second
  g_nVersion = 3;
  g_bListChanged = 1;
  sendRate = 1;
  LogQueue queue;
  BroadcastLoop loop(socket, pause, clock, queue, sendRate);
  loop.Start(0);
  std::vector<LogQueue::Entry> entries;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (entries.size() < 6 && std::chrono::steady_clock::now() < end) {
    for (LogQueue::Entry& e : queue.Take()) entries.push_back(std::move(e));
    std::this_thread::yield();
  }
  loop.Stop();
  ASSERT_GE(entries.size(), 6u);
  for (size_t i = 0; i < entries.size(); ++i) {
    char line[1024];
    FormatCycleLine(line, sizeof line, entries[i].fields);
    EXPECT_STREQ(entries[i].line, line);
  }
  const std::vector<int> sent = {0, 1128, 188, 1128, 188, 1128};
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(entries[i].fields, (CycleFields{4, 2, static_cast<unsigned>(i), entries[0].fields.len, sent[i]})) << i;
  }
  EXPECT_EQ(std::string(entries[0].line).rfind("play list:update,section(04):2,0,len:", 0), 0u) << entries[0].line;
}

TEST_F(BroadcastLoopTest, StopWithoutStartAndTwiceIsHarmless) {
  BroadcastLoop loop(socket, pause, clock, sink, sendRate);
  loop.Stop();
  loop.Start(0);
  sink.WaitFor(1);
  loop.Stop();
  loop.Stop();
  EXPECT_FALSE(loop.Running());
}

TEST(CycleLine, WaitAddsTheLastPacketsPauseToThePeriod) {
  EXPECT_EQ(CycleWait(10, 10), 20u);
  EXPECT_EQ(CycleWait(0, 10), 10u);  // period 0: paced by the pause alone
  EXPECT_EQ(CycleWait(0xFFFFFFFFu, 10), 0xFFFFFFFFu);
  EXPECT_EQ(CycleWait(0xFFFFFFF8u, 10), 0xFFFFFFFEu);  // about 49 days, never "for ever"
}
