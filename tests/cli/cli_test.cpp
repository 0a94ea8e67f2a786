// iptv-list as a script runs it: its exit status, what it says on standard
// error, and the file it leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/iptv-list-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    config = dir + "/config.txt";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  Outcome List(std::vector<std::string> args) {
    args.insert(args.begin(), {IPTV_LIST_PATH, "--config", config});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string outPath = dir + "/stdout", errPath = dir + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    Outcome run;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    run.out = ReadAll(outPath);
    run.err = ReadAll(errPath);
    return run;
  }
  void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

  std::string dir, config;
};

const char kHeader[] = "IPTV multicast IP List\r\n";

// Each command's refusals say what the window's boxes say, and change
// nothing; successes exit 0.
TEST_F(CliTest, CommandsKeepTheWindowsRulesAndMessages) {
  struct Step {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const std::string dup = "Warning: 224.2.2.1:10001:has been exist, are you sure to add it?\n";
  const Step steps[] = {
      {{"add", "--number", "101", "--name", "News", "--multicast", "224.2.2.1", "--remark", "feed", "--hd"}, 0, ""},
      {{"add", "--name", "No number"}, 1, "Program number should be 1-65535\n"},
      {{"add", "--number", "5", "--multicast", ""}, 1, "Multicastis empty\n"},
      {{"add", "--number", "5", "--port", "-1"}, 1, "“请填入一个正整数。”\n"},
      {{"add", "--number", "5", "--name", "a:b"}, 1, "Name must not contain ':' or a line break\n"},
      {{"add", "--number", "5"}, 1, dup + "(answered Cancel; --yes answers OK)\n"},
      {{"add", "--number", "5", "--name", "Sport", "--multicast", "224.2.2.2", "--group", "3"}, 0, ""},
      {{"modify", "224.2.2.9", "1", "--name", "x"}, 1, "No program at 224.2.2.9:1\n"},
      {{"modify", "224.2.2.2", "10001", "--port", "0"}, 1, "Port is empty\n"},
      {{"modify", "224.2.2.2", "10001", "--multicast", "224.2.2.1"},
       1,
       "Same program address:2::224.2.2.1:10001,Exist\n"},
      {{"modify", "224.2.2.2", "10001", "--port", "20", "--no-hd"}, 0, ""},
      {{"delete", "224.2.2.2", "0"}, 1, "Portis empty\n"},
      {{"delete", "224.2.2.7", "20"}, 1, "Delete Fail\n"},
      {{"set", "--send-rate", "25", "--order-by-number", "off"}, 0, ""},
      {{"add", "--number", "2", "--name", "Two", "--multicast", "224.2.2.3"}, 0, ""},
      {{"delete", "224.2.2.1", "10001"}, 0, ""},
      {{"frobnicate"}, 2, ""},
  };
  for (const Step& s : steps) {
    std::string line;
    for (const std::string& a : s.args) line += a + " ";
    SCOPED_TRACE(line);
    const std::string before = ReadAll(config);
    const Outcome run = List(s.args);
    EXPECT_EQ(run.status, s.status) << run.err;
    if (s.status != 2) {
      EXPECT_EQ(run.err, s.err);
    }
    if (s.status != 0) {
      EXPECT_EQ(ReadAll(config), before);
    }
  }
  EXPECT_EQ(ReadAll(config), std::string(kHeader) +
                                 "@freq:25#\r\n@version:0#\r\n@index:0#\r\n"
                                 "@mcast:5:Sport:224.2.2.2:20::3:0#\r\n"
                                 "@mcast:2:Two:224.2.2.3:10001::0:0#\r\n@end#\r\n");
  const Outcome show = List({"show", "--json"});
  EXPECT_EQ(show.status, 0);
  EXPECT_EQ(show.out, "{\"config\":\"" + config +
                          "\",\"sendRate\":25,\"orderByNumber\":false,\"version\":0,\"programs\":["
                          "{\"number\":5,\"name\":\"Sport\",\"multicast\":\"224.2.2.2\",\"port\":20,\"remark\":\"\","
                          "\"group\":3,\"hd\":false},"
                          "{\"number\":2,\"name\":\"Two\",\"multicast\":\"224.2.2.3\",\"port\":10001,\"remark\":\"\","
                          "\"group\":0,\"hd\":false}]}\n");
  EXPECT_EQ(List({"check"}).status, 0);
}

TEST_F(CliTest, ImportAndExport) {
  ASSERT_EQ(List({"add", "--number", "7", "--name", "Seven, \"quoted\"", "--remark", "r"}).status, 0);
  ASSERT_EQ(List({"add", "--number", "8", "--multicast", "239.1.1.8", "--port", "1234", "--hd"}).status, 0);
  const std::string original = ReadAll(config);
  for (const char* name : {"list.csv", "list.m3u"}) {
    SCOPED_TRACE(name);
    const std::string file = dir + "/" + name;
    ASSERT_EQ(List({"export", file}).status, 0);
    const Outcome toStdout = List({"export", "-", "--format", std::string(name).substr(5)});
    EXPECT_EQ(toStdout.out, ReadAll(file));
    std::filesystem::remove(config);
    const Outcome imported = List({"import", file});
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(ReadAll(config), original);
  }

  // Bad rows: named on standard error; without --yes nothing is taken.
  Write(dir + "/bad.csv", "Number,Name,Multicast,Port\r\n1,a,224.9.9.1,1\r\n0,b,224.9.9.2,2\r\n3,c,224.9.9.x,3\r\n");
  const std::string question = "Import: " + dir +
                               "/bad.csv: 2 of 3 rows cannot be added:\n"
                               "line 3: Program number should be 1-65535\n"
                               "line 4: Multicast '224.9.9.x' is not an IPv4 address\n"
                               "Import the 1 rows that passed?\n";
  Outcome run = List({"import", dir + "/bad.csv"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, question + "(answered Cancel; --yes answers OK)\n");
  EXPECT_EQ(ReadAll(config), original);
  run = List({"--yes", "import", dir + "/bad.csv"});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.err, question + "(answered OK: --yes)\n");
  EXPECT_NE(ReadAll(config).find("@mcast:1:a:224.9.9.1:1::0:0#"), std::string::npos);
  EXPECT_EQ(List({"import", dir + "/none.csv"}).status, 1);
}

// A GBK head end: the file keeps its GBK bytes, the command line and the
// table are in the locale's character set (UTF-8 here), JSON and exported
// files in UTF-8.
TEST_F(CliTest, CodePageOfTheHeadEnd) {
  const std::string fixture = ReadAll(IPTV_CONFIG_FIXTURES "/gbk.txt");
  Write(config, fixture);
  Outcome run = List({"--codepage", "GBK", "show", "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"name\":\"中央电视台一套\""), std::string::npos) << run.out;
  run = List({"--codepage", "GBK", "show"});
  EXPECT_NE(run.out.find("凤凰卫视中文台"), std::string::npos) << run.out;

  run =
      List({"--codepage", "GBK", "add", "--number", "9", "--name", "新闻", "--multicast", "224.2.2.9", "--port", "9"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string saved = ReadAll(config);
  EXPECT_NE(saved.find("@mcast:9:\xD0\xC2\xCE\xC5:224.2.2.9:9::0:0#"), std::string::npos) << saved;
  // What was there before is still there, byte for byte.
  const std::string firstProgram =
      fixture.substr(fixture.find("@mcast:1:"), fixture.find("@mcast:3:") - fixture.find("@mcast:1:"));
  EXPECT_NE(saved.find(firstProgram), std::string::npos);

  run = List({"--codepage", "GBK", "add", "--number", "10", "--name", "\xF0\x9F\x93\xBA", "--multicast", "224.2.2.10",
              "--port", "10"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Name '\xF0\x9F\x93\xBA' holds a character that code page GBK has no place for\n");
  EXPECT_EQ(ReadAll(config), saved);

  ASSERT_EQ(List({"--codepage", "GBK", "export", dir + "/list.m3u"}).status, 0);
  EXPECT_NE(ReadAll(dir + "/list.m3u").find(",新闻\n"), std::string::npos);

  run = List({"--codepage", "KLINGON", "show"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err.rfind("iptv-list: unknown code page 'KLINGON'", 0), 0u) << run.err;
}

// A file the load could not take whole is kept beside before the first
// save, and the operator is told where.
TEST_F(CliTest, AnIncompleteFileIsKeptBeforeItIsReplaced) {
  const std::string broken = std::string(kHeader) + "@mcast:1:One:224.1.1.1:1::0:0#\r\n@mcast:2:Two:bad:2::0:0#\r\n";
  Write(config, broken);
  const Outcome run = List({"add", "--number", "3", "--name", "Three"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("错误的IP地址"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("the file as it was is kept as " + config + ".bad-"), std::string::npos) << run.err;
  int kept = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().filename().string().rfind("config.txt.bad-", 0) == 0) {
      ++kept;
      EXPECT_EQ(ReadAll(e.path().string()), broken);
    }
  }
  EXPECT_EQ(kept, 1);
  EXPECT_EQ(List({"check"}).status, 0);
}

// After a change, and only then, the runner named by its pid file gets
// SIGHUP.
TEST_F(CliTest, ReloadTellsTheRunner) {
  sigset_t hup;
  sigemptyset(&hup);
  sigaddset(&hup, SIGHUP);
  sigprocmask(SIG_BLOCK, &hup, nullptr);
  const pid_t runner = fork();
  ASSERT_GE(runner, 0);
  if (runner == 0) {
    // Stands in for the runner: exits 0 on SIGHUP, 1 after 20 s.
    const timespec wait{20, 0};
    _exit(sigtimedwait(&hup, nullptr, &wait) == SIGHUP ? 0 : 1);
  }
  sigprocmask(SIG_UNBLOCK, &hup, nullptr);
  const std::string pidFile = dir + "/runner.pid";
  Write(pidFile, std::to_string(runner) + "\n");

  // A refused command tells nobody.
  EXPECT_EQ(List({"--reload-pid", pidFile, "delete", "224.1.1.1", "1"}).status, 1);
  int wstatus = 0;
  EXPECT_EQ(waitpid(runner, &wstatus, WNOHANG), 0) << "signalled after a refused command";
  EXPECT_EQ(List({"--reload-pid", pidFile, "add", "--number", "1"}).status, 0);
  ASSERT_EQ(waitpid(runner, &wstatus, 0), runner);
  EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << "the runner got no SIGHUP";

  Write(pidFile, "none\n");
  const Outcome run = List({"--reload-pid", pidFile, "add", "--number", "2", "--port", "2"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "iptv-list: " + pidFile + " holds no process id; the runner was not told to reload\n");
}

}  // namespace
