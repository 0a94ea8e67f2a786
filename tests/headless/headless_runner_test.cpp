// Runs iptv-headless as an operator would on a server and watches the air.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "../e2e/air_support.h"
#include "iptv_version.h"
#include "runner_support.h"
#include "support/netns.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ConfigText(int version, const std::vector<std::string>& programs) {
  std::string s = "IPTV multicast IP List\r\n@freq:10#\r\n@version:" + std::to_string(version) + "#\r\n@index:1#\r\n";
  for (const auto& p : programs) s += "@mcast:" + p + "#\r\n";
  return s + "@end#\r\n";
}

using runner::ReadFile;
using runner::Runner;

}  // namespace

TEST(HeadlessRunner, BroadcastsTheFileReloadsOnHupStepsOnUsr1AndStopsOnTerm) {
  REQUIRE_PRIVATE_NETNS();
  const fs::path dir = fs::temp_directory_path() / ("iptv-headless-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path config = dir / "config.txt";
  const fs::path out = dir / "stdout.txt";
  {
    std::ofstream(config, std::ios::binary)
        << ConfigText(3, {"202:News:239.1.1.2:1234:r:1:1", "101:Sport:239.1.1.1:1235::2:0"});
  }
  AirReceiver air;
  ASSERT_TRUE(air.Open()) << air.error;
  Runner runner({"--config", config.string(), "--interface", "Default"}, out);
  ASSERT_TRUE(runner.Started());

  // The file's list, ordered by number, first with the file's version, then
  // stepped once by the start-up refresh.
  auto listWith = [&](size_t programs, int version) {
    return [&air, programs, version] {
      return !air.lists.empty() && air.lists.back().programs.size() == programs && air.lists.back().version == version;
    };
  };
  ASSERT_TRUE(air.Until(listWith(2, 4))) << ReadFile(out.string() + ".err");
  const PlayList& first = air.lists.back();
  EXPECT_EQ(first.programs[0].nNumber, 101);
  EXPECT_EQ(first.programs[0].name, "Sport");
  EXPECT_EQ(first.programs[1].nNumber, 202);
  EXPECT_EQ(first.programs[1].address, 0xEF010102u);
  EXPECT_EQ(first.programs[1].bHD, 1);

  // An edit of the file reaches the air at SIGHUP, stepped once from the
  // file's version.
  {
    std::ofstream(config, std::ios::binary) << ConfigText(
        7, {"5:Added:239.1.1.5:1000::0:0", "101:Sport:239.1.1.1:1235::2:0", "202:News:239.1.1.2:1234:r:1:1"});
  }
  runner.Signal(SIGHUP);
  ASSERT_TRUE(air.Until(listWith(3, 8)));
  EXPECT_EQ(air.lists.back().programs[0].name, "Added");
  const size_t seen = air.sections.size();
  ASSERT_TRUE(air.Until([&] { return air.sections.size() >= seen + 10; }));
  for (size_t i = seen; i < air.sections.size(); ++i) EXPECT_EQ(air.sections[i].version, 8) << "stepped only once";

  runner.Signal(SIGUSR1);
  ASSERT_TRUE(air.Until(listWith(3, 9)));

  const auto stopAt = std::chrono::steady_clock::now();
  runner.Signal(SIGTERM);
  const int status = runner.WaitExit(std::chrono::seconds(5));
  const auto took = std::chrono::steady_clock::now() - stopAt;
  ASSERT_NE(status, -1) << "did not stop";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // Promptly: the rest of one cycle is at most a few tens of ms; allow for a
  // loaded machine.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 2000);

  const std::string log = ReadFile(out);
  ASSERT_FALSE(log.empty());
  // The first cycle sends the file's version 3 and its line already shows the
  // stepped one.
  EXPECT_EQ(log.rfind("play list:update,section(04):1,0,len:67,sent:0,\r\n", 0), 0u) << log.substr(0, 80);
  EXPECT_NE(log.find("play list:update,section(08):1,"), std::string::npos);
  EXPECT_NE(log.find("play list:update,section(09):1,"), std::string::npos);
  EXPECT_EQ(log.back(), '\n');
  EXPECT_EQ(ReadFile(config).find("@version:7#"), ReadFile(config).find("@version:"))
      << "the runner never writes the file";
  fs::remove_all(dir);
}

// --config=PATH is taken as --config PATH. With --changes-only, sections of
// different sizes taking turns (sent 1128, 188, ...) print nothing; the
// first line and a new version print one line each.
TEST(HeadlessRunner, ChangesOnlyPrintsTheFirstLineAndEachNewVersion) {
  REQUIRE_PRIVATE_NETNS();
  const fs::path dir = fs::temp_directory_path() / ("iptv-headless-changes-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path config = dir / "config.txt";
  const fs::path out = dir / "stdout.txt";
  // 27 programs with 20-byte names fill the first section (six packets); the
  // 28th takes a second one of one packet.
  std::vector<std::string> programs;
  for (int i = 1; i <= 28; ++i)
    programs.push_back(std::to_string(i) + ":" + std::string(20, 'n') + ":239.1.1." + std::to_string(i) + ":1234::0:0");
  { std::ofstream(config, std::ios::binary) << ConfigText(3, programs); }
  AirReceiver air;
  ASSERT_TRUE(air.Open()) << air.error;
  Runner runner({"--config=" + config.string(), "--interface", "Default", "--changes-only"}, out);
  ASSERT_TRUE(runner.Started());

  auto versionOnAir = [&](int version, size_t sections) {
    return air.Until([&] {
      size_t n = 0;
      for (const AirSection& s : air.sections) n += s.version == version;
      return n >= sections;
    });
  };
  ASSERT_TRUE(versionOnAir(4, 8)) << ReadFile(out.string() + ".err");  // the rotation turned a few times
  runner.Signal(SIGUSR1);
  ASSERT_TRUE(versionOnAir(5, 8));
  runner.Signal(SIGTERM);
  const int status = runner.WaitExit(std::chrono::seconds(5));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  bool sizesTookTurns = false;
  for (size_t i = 1; i < air.sections.size(); ++i) sizesTookTurns |= air.sections[i].size != air.sections[i - 1].size;
  EXPECT_TRUE(sizesTookTurns);
  const std::string log = ReadFile(out);
  const size_t second = log.find('\n') + 1;
  EXPECT_EQ(log.rfind("play list:update,section(04):2,0,len:", 0), 0u) << log;
  EXPECT_EQ(log.find("play list:update,section(05):2,", second), second) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
  fs::remove_all(dir);
}

// The command line: every mistake is named, with status 2, before anything
// is loaded or sent.
TEST(HeadlessRunner, TellsItsVersionAndRefusesABadCommandLine) {
  const fs::path out = fs::temp_directory_path() / ("iptv-headless-args-" + std::to_string(getpid()));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // exact standard output; first line of standard error
  };
  const Case cases[] = {
      {{"--version"}, 0, "iptv-headless " IPTV_VERSION "\n", ""},
      {{"--config"}, 2, "", "iptv-headless: --config needs a value"},
      {{"--config="}, 2, "", "iptv-headless: --config needs a path"},
      {{"--interface"}, 2, "", "iptv-headless: --interface needs a value"},
      {{"--changes-only=yes"}, 2, "", "iptv-headless: --changes-only takes no value"},
      {{"--bogus"}, 2, "", "iptv-headless: unknown option '--bogus'"},
      {{"-x"}, 2, "", "iptv-headless: unknown option '-x'"},
      {{"config.txt"}, 2, "", "iptv-headless: unexpected argument 'config.txt'"},
      {{"--interface", "1.2.3.x"}, 2, "", "iptv-headless: '1.2.3.x' is not an IPv4 address or Default"},
      {{"--interface", "10.99.99.99"}, 2, "", "iptv-headless: no interface here has the address 10.99.99.99"},
      {{"--status-listen", "host:80"},
       2,
       "",
       "iptv-headless: --status-listen: 'host' is not an IPv4 address (ADDR:PORT, *:PORT or PORT)"},
      {{"--codepage", "GBK", "--version"}, 0, "iptv-headless " IPTV_VERSION "\n", ""},
      {{"--codepage", "KLINGON"}, 2, "", "iptv-headless: unknown code page 'KLINGON'"},
      {{"--codepage=UTF-16"},
       2,
       "",
       "iptv-headless: code page 'UTF-16' cannot be used: it does not keep ASCII as it is"},
  };
  for (const Case& c : cases) {
    const std::string label = c.args[0];
    Runner runner(c.args, out);
    ASSERT_TRUE(runner.Started());
    const int status = runner.WaitExit(std::chrono::seconds(5));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << label << ": " << status;
    EXPECT_EQ(ReadFile(out), c.out) << label;
    const std::string err = ReadFile(out.string() + ".err");
    EXPECT_EQ(err.substr(0, err.find('\n')), c.err) << label;
  }
  fs::remove(out);
  fs::remove(out.string() + ".err");
}
