// A changed list always reaches the boxes: iptv-headless runs as a process
// and the monitor, which takes a list only when its version is new, judges
// every case.
#include <gtest/gtest.h>

#include <random>

#include "runner_support.h"
#include "support/netns.h"

namespace {

using namespace runner;

// Sections received before `list` was printed, counted from `from`; -1 when
// it never came.
int SectionsUntil(AirReceiver& air, size_t from, const std::vector<DecodedProgram>& list, int limit) {
  const size_t printedBefore = air.lists.size();
  auto seen = [&] {
    for (size_t i = printedBefore; i < air.lists.size(); ++i)
      if (air.lists[i].programs == list) return true;
    return false;
  };
  air.Until([&] { return seen() || air.sections.size() >= from + static_cast<size_t>(limit); });
  return seen() ? static_cast<int>(air.sections.size() - from) : -1;
}

// The hand edit of config.txt keeps its "@version" line: the version from
// before the start-up's step. The edited list must still be printed within
// two rotations of the reload (or of the start), and nothing printed may
// share a version with another list.
TEST(VersionRules, AnEditedListReachesTheMonitorWithinTwoRotations) {
  REQUIRE_PRIVATE_NETNS();
  const struct {
    const char* what;
    int sections;
    bool restart;  // edited while stopped, then started again
    bool edited;   // false: the same file reloaded
  } cases[] = {
      {"hand edit + reload, 1 section", 1, false, true},
      {"hand edit + reload, 2 sections", 2, false, true},
      {"hand edit + reload, 6 sections", 6, false, true},
      {"hand edit while stopped + start, 2 sections", 2, true, true},
      {"hand edit while stopped + start, 6 sections", 6, true, true},
      {"reload of an unchanged file, 2 sections", 2, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Scratch scratch("iptv-version-rules");
    const std::string config = scratch.File("config.txt");
    const std::vector<std::string> args = {"--config", config,    "--interface",
                                           "Default",  "--state", scratch.File("onair")};
    const std::vector<ProgramEntry> a = Tagged(c.sections, "before"), b = Tagged(c.sections, "after");
    const std::vector<DecodedProgram> airA = OnAir(a), airB = c.edited ? OnAir(b) : OnAir(a);
    // Two rotations, plus the cycle that steps and one for the signal's way.
    const int bound = 2 * c.sections + 2;
    WriteConfig(config, ConfigOf(a, 3));

    AirReceiver air;
    ASSERT_TRUE(air.Open()) << air.error;
    auto runner = std::make_unique<Runner>(args, scratch.dir / "out1");
    ASSERT_TRUE(runner->Started());
    ASSERT_NE(SectionsUntil(air, 0, airA, 200), -1) << runner->Err();

    const std::string edited = ConfigOf(c.edited ? b : a, 3);
    size_t from;
    if (c.restart) {
      runner->Signal(SIGTERM);
      ASSERT_EQ(ExitCode(runner->WaitExit(std::chrono::seconds(5))), 0);
      air.Drain();
      WriteConfig(config, edited);
      from = air.sections.size();
      runner = std::make_unique<Runner>(args, scratch.dir / "out2");
    } else {
      WriteConfig(config, edited);
      from = air.sections.size();
      runner->Signal(SIGHUP);
    }
    if (c.edited) {
      const int took = SectionsUntil(air, from, airB, 100);
      ASSERT_NE(took, -1) << "the edited list never reached the monitor";
      EXPECT_LE(took, bound);
    } else {
      air.Until([&] { return air.sections.size() >= from + static_cast<size_t>(3 * c.sections); });
    }
    EXPECT_TRUE(OnlyKnownListsEachUnderItsOwnVersions(air.lists, {airA, airB}));
    EXPECT_EQ(air.Counters().crcErrors, 0u);
    if (c.restart) {
      EXPECT_FALSE(ReadFile(scratch.File("onair")).empty()) << "--state is where the record lives";
    }
    runner->Signal(SIGTERM);
    EXPECT_EQ(ExitCode(runner->WaitExit(std::chrono::seconds(5))), 0) << runner->Err();
  }
}

// Reloads in a storm, the file rewritten before each: every list the
// monitor prints was in the file, each under versions of its own, and the
// last one stays on the air.
TEST(VersionRules, AStormOfReloadsNeverSharesAVersion) {
  REQUIRE_PRIVATE_NETNS();
  Scratch scratch("iptv-version-storm");
  const std::string config = scratch.File("config.txt");
  std::vector<std::vector<ProgramEntry>> lists;
  std::vector<std::vector<DecodedProgram>> known;
  for (int i = 0; i < 11; ++i) {
    // Mostly one section, so that the monitor completes even short-lived
    // lists; every third has two.
    lists.push_back(Tagged(i % 3 == 2 ? 2 : 1, "storm" + std::to_string(i)));
    known.push_back(OnAir(lists.back()));
  }
  WriteConfig(config, ConfigOf(lists[0], 3));
  AirReceiver air;
  ASSERT_TRUE(air.Open()) << air.error;
  Runner runner({"--config", config, "--interface", "Default"}, scratch.dir / "out");
  ASSERT_TRUE(runner.Started());
  ASSERT_NE(SectionsUntil(air, 0, known[0], 200), -1) << runner.Err();

  std::mt19937 random(9);
  for (size_t i = 1; i < lists.size(); ++i) {
    WriteConfig(config, ConfigOf(lists[i], 3));
    runner.Signal(SIGHUP);
    // Some reloads come within one cycle of the last, some a few cycles on.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(random() % 60);
    air.Until([&] { return std::chrono::steady_clock::now() >= until; });
  }
  ASSERT_TRUE(air.Until([&] { return !air.lists.empty() && air.lists.back().programs == known.back(); }))
      << "the last list never came";
  EXPECT_TRUE(OnlyKnownListsEachUnderItsOwnVersions(air.lists, known));
  EXPECT_GE(air.lists.size(), 4u) << "a storm the monitor hardly saw proves little";
  runner.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(runner.WaitExit(std::chrono::seconds(5))), 0) << runner.Err();
}

}  // namespace
