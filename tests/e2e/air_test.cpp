// The broadcast loop on a real UDP socket, received by the monitor's
// decoder over the namespace's loopback: what goes on the air is the table,
// the version steps as operators expect, and a stop is prompt and clean.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>

#include "../support/netns.h"
#include "air_support.h"
#include "broadcast/udp_socket.h"
#include "iptv_version.h"

namespace {

using Clk = std::chrono::steady_clock;

class Air : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETNS();
    ASSERT_TRUE(rx.Open()) << rx.error;  // joined before the first packet leaves
  }
  void TearDown() override { loop.Stop(); }

  // Stops the loop and takes what is still queued, so that the log lines and
  // the sections on the air can be laid side by side (one section a cycle).
  std::vector<std::string> StopAndCollect() {
    loop.Stop();
    rx.Drain();
    return sink.WaitFor(0);
  }

  AirReceiver rx;
  UdpSocket socket;
  MonotonicPause pause;
  FixedClock clock;
  RecordingSink sink;
  std::atomic<uint32_t> rate{10};
  BroadcastLoop loop{socket, pause, clock, sink, rate};
};

TEST_F(Air, MonitorDecodesTheTable) {
  const std::vector<ProgramEntry> table = TableOfSections(2);
  SetTable(table, 7, true);  // as at start-up: loaded and refreshed
  loop.Start(0);
  ASSERT_TRUE(rx.Until([&] { return !rx.lists.empty(); }));
  loop.Stop();
  const PlayList& list = rx.lists[0];
  // The first cycle still sends version 7 and steps it; a whole list only
  // comes with version 8.
  EXPECT_EQ(list.version, 8);
  EXPECT_EQ(list.sections, 2);
  EXPECT_EQ(list.time.year, 24);
  EXPECT_EQ(list.time.second, 30);
  std::vector<DecodedProgram> want;
  for (const ProgramEntry& e : table) want.push_back(ExpectedOnAir(e));
  EXPECT_EQ(list.programs, want);
  EXPECT_EQ(rx.Counters().crcErrors + rx.Counters().ts.continuityErrors, 0u);
}

TEST_F(Air, RefreshStepsTheVersionOnceAndShowsOneCycleLater) {
  SetTable(TableOfSections(1), 3, false);
  loop.Start(0);
  ASSERT_TRUE(rx.Until([&] { return rx.sections.size() >= 3; }));
  {
    // Two raises between two of the loop's reads: one step.
    std::lock_guard lock(g_TableGuard);
    g_bListChanged.store(1);
    g_bListChanged.store(1);
  }
  ASSERT_TRUE(rx.Until([&] {
    size_t after = 0;
    for (const AirSection& s : rx.sections) after += s.version == 4;
    return after >= 3;
  }));
  const std::vector<std::string> lines = StopAndCollect();
  ASSERT_EQ(lines.size(), rx.sections.size()) << "one section and one line per cycle";
  size_t stepped = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    const int v = ParseLine(lines[i]).version;
    if (v == 4 && stepped == lines.size()) stepped = i;
    EXPECT_EQ(v, i < stepped ? 3 : 4) << lines[i];
  }
  ASSERT_LT(stepped + 1, lines.size());
  // The stepping cycle's line shows 04 while its section still carries 3.
  for (size_t i = 0; i < rx.sections.size(); ++i) EXPECT_EQ(rx.sections[i].version, i <= stepped ? 3 : 4) << i;
  EXPECT_EQ(g_nVersion.load(), 4);
}

TEST_F(Air, SectionsGoOutInRotation) {
  for (int k : {2, 3}) {
    SCOPED_TRACE(std::to_string(k) + " sections");
    AirReceiver r;
    ASSERT_TRUE(r.Open()) << r.error;
    UdpSocket s;
    RecordingSink log;
    std::atomic<uint32_t> zero{0};
    BroadcastLoop l(s, pause, clock, log, zero);
    SetTable(TableOfSections(k), 0, false);
    l.Start(0);
    ASSERT_TRUE(r.Until([&] { return r.sections.size() >= static_cast<size_t>(3 * k + 1); }));
    l.Stop();
    r.Drain();
    const std::vector<std::string> lines = log.WaitFor(0);
    ASSERT_EQ(lines.size(), r.sections.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(r.sections[i].number, i % k) << i;
      EXPECT_EQ(r.sections[i].last, k - 1);
      const CycleLine c = ParseLine(lines[i]);
      EXPECT_EQ(c.sections, k);
      EXPECT_EQ(c.rotation, static_cast<int>(i));
      // The line reports what the cycle before it sent: 188 per packet.
      const int packets = (static_cast<int>(r.sections[i].size) + 1 + 183) / 184;
      if (i + 1 < lines.size()) {
        EXPECT_EQ(ParseLine(lines[i + 1]).sent, 188 * packets) << lines[i + 1];
      }
    }
    EXPECT_EQ(ParseLine(lines[0]).sent, 0);
    EXPECT_EQ(r.Ts().continuityErrors, 0u);
  }
}

TEST_F(Air, StopCutsALongWaitShort) {
  rate = 60000;
  SetTable(TableOfSections(1), 0, false);
  loop.Start(0);
  ASSERT_EQ(sink.WaitFor(1).size(), 1u);
  const auto t0 = Clk::now();
  loop.Stop();
  EXPECT_LT(Clk::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(sink.WaitFor(0).size(), 1u);
}

TEST_F(Air, StopWhileSendingLetsTheSectionFinish) {
  rate = 60000;
  std::vector<ProgramEntry> table = TableOfSections(2);
  table.resize(27);  // one section of six packets
  SetTable(table, 0, false);
  loop.Start(0);
  ASSERT_TRUE(rx.Until([&] { return rx.Ts().packets >= 1; }));
  const uint64_t atStop = rx.Ts().packets;
  const auto t0 = Clk::now();
  loop.Stop();
  EXPECT_LT(Clk::now() - t0, std::chrono::seconds(2));
  rx.Drain();
  if (atStop >= 6) GTEST_LOG_(INFO) << "the section was already out when Stop came";
  EXPECT_EQ(rx.Ts().packets, 6u);
  ASSERT_EQ(rx.sections.size(), 1u);
  EXPECT_EQ(rx.sections[0].size, 1023u);
  EXPECT_EQ(rx.Ts().droppedSections, 0u);
  const std::vector<std::string> lines = sink.WaitFor(0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(ParseLine(lines[0]).len, 1023);
}

}  // namespace

namespace {

std::string Shell(const std::string& command, int* status) {
  std::string out;
  FILE* f = popen(command.c_str(), "r");
  if (!f) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  const int st = pclose(f);
  *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

// The executable as operators run it: --once prints the list and ends,
// and --once with nothing on the air ends with status 1 after --duration.
TEST_F(Air, MonitorProgramPrintsTheListOnce) {
  const std::string monitor = IPTV_MONITOR_PATH;
  int status = -1;
  EXPECT_EQ(Shell(monitor + " --once --duration 0.3 2>/dev/null", &status), "");
  EXPECT_EQ(status, 1);

  SetTable({MakeProgram(101, "abc", "239.1.2.3", 1234, 2, 1)}, 5, false);
  loop.Start(0);
  const std::string out = Shell(monitor + " --once --json --duration 20 2>/dev/null", &status);
  EXPECT_EQ(status, 0);
  // The source is whatever address the system gave the unbound socket.
  EXPECT_EQ(out.substr(0, out.find(",\"source\":\"")),
            "{\"version\":5,\"sections\":1,\"time\":\"2024-03-09 14:05:30\",\"programs\":[{\"number\":101,"
            "\"group\":2,\"multicast\":\"239.1.2.3\",\"port\":1234,\"name\":\"abc\",\"hd\":1}]");
  EXPECT_NE(out.find("\"play_lists\":1,"), std::string::npos) << out;
}

// inf or a span too long for the clock is no deadline: the monitor still runs
// when `timeout` stops it (status 124). A span that is not a number of seconds
// is refused with status 2.
TEST_F(Air, MonitorTakesAHugeDurationAsNoDeadline) {
  const std::string monitor = IPTV_MONITOR_PATH;
  int status = -1;
  for (const char* span : {"inf", "1e300", "1e20"}) {
    // Without the leak check in sanitizer builds: it stops the process's
    // threads with ptrace at exit, and timeout's second signal to its whole
    // process group can land in the middle and leave it spinning forever.
    Shell("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 timeout 0.5 " + monitor + " --quiet --duration " +
              span + " 2>/dev/null",
          &status);
    EXPECT_EQ(status, 124) << span;
  }
  for (const char* span : {"-1", "nan", "2x", "''"}) {
    Shell(monitor + " --quiet --duration " + span + " 2>/dev/null", &status);
    EXPECT_EQ(status, 2) << span;
  }
  EXPECT_EQ(Shell(monitor + " --version", &status), "iptv-monitor " IPTV_VERSION "\n");
  EXPECT_EQ(status, 0);
}

}  // namespace
