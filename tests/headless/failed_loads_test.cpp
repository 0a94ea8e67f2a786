// What iptv-headless does with a config file it cannot take whole: a reload
// keeps the list on the air, a start ends with the reason, --check tells all
// and changes nothing. The monitor watches the air.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "runner_support.h"
#include "support/netns.h"

namespace {

using namespace runner;

std::string Config(int version, const std::vector<std::string>& programs) {
  std::string s = "IPTV multicast IP List\r\n@freq:10#\r\n@version:" + std::to_string(version) + "#\r\n@index:1#\r\n";
  for (const auto& p : programs) s += "@mcast:" + p + "#\r\n";
  return s + "@end#\r\n";
}

// 50 programs; `badLine` (the file's line, the header being 1) gets an
// address that does not convert.
std::string FiftyPrograms(int badLine = 0) {
  std::vector<std::string> lines;
  for (int i = 0; i < 50; ++i) {
    const std::string address = badLine == 5 + i ? "224.3.3.x" : "224.3.3." + std::to_string(i + 1);
    lines.push_back(std::to_string(i + 1) + ":P" + std::to_string(i + 1) + ":" + address + ":1234:r:0:0");
  }
  return Config(3, lines);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool WaitForErr(Runner& runner, const std::string& part) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!Contains(runner.Err(), part)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// SIGHUP on a file that is missing, broken or no regular file: the reason on
// standard error, and the air keeps its list and its version.
TEST(FailedLoads, AReloadThatCannotTakeTheFileKeepsTheListOnTheAir) {
  REQUIRE_PRIVATE_NETNS();
  Scratch scratch("iptv-failed-reload");
  const std::string config = scratch.File("config.txt");
  const std::vector<ProgramEntry> a = Tagged(2, "kept"), b = Tagged(1, "fixed");
  WriteConfig(config, ConfigOf(a, 3));
  AirReceiver air;
  ASSERT_TRUE(air.Open()) << air.error;
  Runner runner({"--config", config, "--interface", "Default"}, scratch.dir / "out");
  ASSERT_TRUE(runner.Started());
  ASSERT_TRUE(air.Until([&] { return !air.lists.empty() && air.lists.back().programs == OnAir(a); })) << runner.Err();

  const struct {
    const char* what;
    std::function<void()> make;
    std::string says;
  } cases[] = {
      {"missing", [&] { std::filesystem::remove(config); }, config + ": cannot be read: No such file or directory"},
      {"broken on line 14", [&] { WriteConfig(config, FiftyPrograms(14)); },
       config + ", line 14: the load stopped here; 41 program line(s) not loaded."},
      {"a FIFO",
       [&] {
         std::filesystem::remove(config);
         mkfifo(config.c_str(), 0644);
       },
       config + ": cannot be read: it is a FIFO, not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.make();
    const size_t printed = air.lists.size();
    const uint8_t version = air.sections.back().version;
    runner.Signal(SIGHUP);
    ASSERT_TRUE(WaitForErr(runner, c.says)) << runner.Err();
    EXPECT_TRUE(WaitForErr(runner, "the list on the air stays as it was (" + std::to_string(a.size()) + " programs)"));
    const size_t from = air.sections.size();
    ASSERT_TRUE(air.Until([&] { return air.sections.size() >= from + 8; }));
    EXPECT_EQ(air.lists.size(), printed) << "nothing new was published";
    EXPECT_EQ(air.sections.back().version, version);
    EXPECT_TRUE(runner.Running());
    std::filesystem::remove(config);
  }

  WriteConfig(config, ConfigOf(b, 3));
  runner.Signal(SIGHUP);
  EXPECT_TRUE(air.Until([&] { return air.lists.back().programs == OnAir(b); })) << "a good file still reloads";
  runner.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(runner.WaitExit(std::chrono::seconds(5))), 0) << runner.Err();
}

// At the start, a file that cannot be read in full ends the runner at once
// with the reason and puts nothing on the air; --allow-incomplete starts it
// with what could be read, and it stops at SIGTERM as always.
TEST(FailedLoads, AStartWithAFileThatCannotBeTakenEndsWithTheReason) {
  REQUIRE_PRIVATE_NETNS();
  const struct {
    const char* what;
    std::function<void(const std::string&)> make;
    std::string says;
    size_t programsIfAllowed;
  } cases[] = {
      {"missing", [](const std::string&) {}, ": cannot be read: No such file or directory", 0},
      {"a FIFO", [](const std::string& p) { mkfifo(p.c_str(), 0644); }, ": cannot be read: it is a FIFO", 0},
      {"a directory", [](const std::string& p) { std::filesystem::create_directory(p); },
       ": cannot be read: it is a directory", 0},
      {"broken on line 14", [](const std::string& p) { WriteConfig(p, FiftyPrograms(14)); },
       ", line 14: the load stopped here", 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Scratch scratch("iptv-failed-start");
    const std::string config = scratch.File("config.txt");
    c.make(config);
    AirReceiver air;
    ASSERT_TRUE(air.Open()) << air.error;
    {
      Runner runner({"--config", config, "--interface", "Default"}, scratch.dir / "out");
      ASSERT_TRUE(runner.Started());
      const int status = runner.WaitExit(std::chrono::seconds(3));
      ASSERT_NE(status, -1) << "it hangs";
      EXPECT_EQ(ExitCode(status), 1);
      EXPECT_TRUE(Contains(runner.Err(), config + c.says)) << runner.Err();
      EXPECT_TRUE(Contains(runner.Err(), "not started")) << runner.Err();
    }
    air.Drain();
    EXPECT_TRUE(air.sections.empty()) << "nothing goes on the air";

    Runner allowed({"--config", config, "--interface", "Default", "--allow-incomplete"}, scratch.dir / "out2");
    ASSERT_TRUE(allowed.Started());
    ASSERT_TRUE(air.Until([&] { return !air.lists.empty(); })) << allowed.Err();
    EXPECT_EQ(air.lists.back().programs.size(), c.programsIfAllowed);
    const auto stopAt = std::chrono::steady_clock::now();
    allowed.Signal(SIGTERM);
    EXPECT_EQ(ExitCode(allowed.WaitExit(std::chrono::seconds(5))), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(2));
  }
}

// --check reads the file, prints every message and a summary, and says by
// its exit status whether the file is clean. It writes nothing and sends
// nothing.
TEST(Check, TellsEveryMessageAndASummaryAndChangesNothing) {
  const struct {
    const char* what;
    std::function<void(const std::string&)> make;
    int exit;
    std::string summary;            // after "<path>"
    std::vector<std::string> says;  // on standard error
  } cases[] = {
      {"clean",
       [](const std::string& p) {
         WriteConfig(p, Config(3, {"202:News:239.1.1.2:1234:r:1:1", "101:Sport:239.1.1.1:1235::2:0"}));
       },
       0,
       ": 2 programs, 1 section, 67 of 6144 bytes used; clean\n",
       {}},
      {"broken on line 14",
       [](const std::string& p) { WriteConfig(p, FiftyPrograms(14)); },
       1,
       ": 9 programs, 1 section, 195 of 6144 bytes used; 1 message(s), not clean\n",
       {"iptv-headless: 错误的IP地址\n", ", line 14: the load stopped here; 41 program line(s) not loaded.\n"}},
      {"missing",
       [](const std::string&) {},
       1,
       ": 0 programs, 1 section, 24 of 6144 bytes used; 1 message(s), not clean\n",
       {": cannot be read: No such file or directory"}},
      {"a FIFO",
       [](const std::string& p) { mkfifo(p.c_str(), 0644); },
       1,
       ": 0 programs, 1 section, 24 of 6144 bytes used; 1 message(s), not clean\n",
       {": cannot be read: it is a FIFO, not a regular file"}},
      {"one program more than the six sections hold",
       [](const std::string& p) { WriteConfig(p, ConfigOf(TableOfSections(7), 3)); },
       1,
       ": 163 programs (1 not on the air), 6 sections, 6138 of 6144 bytes used; 1 message(s), not clean\n",
       {"not broadcast"}},
      {"no time-out",
       [](const std::string& p) { WriteConfig(p, "IPTV multicast IP List\r\n@freq:-1#\r\n@end#\r\n"); },
       1,
       ": 0 programs, 1 section, 24 of 6144 bytes used; 1 message(s), not clean\n",
       {"is 4294967295 ms (freq -1), which means no time-out"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Scratch scratch("iptv-check");
    const std::string config = scratch.File("config.txt");
    c.make(config);
    std::vector<std::string> before;
    for (const auto& e : std::filesystem::directory_iterator(scratch.dir)) before.push_back(e.path().filename());

    Runner runner({"--config", config, "--check"},
                  scratch.dir.parent_path() / ("check-out-" + std::to_string(getpid())));
    const int status = runner.WaitExit(std::chrono::seconds(3));
    ASSERT_NE(status, -1) << "it hangs";
    EXPECT_EQ(ExitCode(status), c.exit);
    const std::string out = ReadFile(scratch.dir.parent_path() / ("check-out-" + std::to_string(getpid())));
    EXPECT_EQ(out, config + c.summary);
    for (const std::string& part : c.says) EXPECT_TRUE(Contains(runner.Err(), part)) << runner.Err();
    std::vector<std::string> after;
    for (const auto& e : std::filesystem::directory_iterator(scratch.dir)) after.push_back(e.path().filename());
    EXPECT_EQ(after, before);
  }
  std::filesystem::remove(std::filesystem::temp_directory_path() / ("check-out-" + std::to_string(getpid())));
  std::filesystem::remove(std::filesystem::temp_directory_path() / ("check-out-" + std::to_string(getpid()) + ".err"));
}

}  // namespace
