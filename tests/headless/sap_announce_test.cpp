// The runner's session announcements as a PC player's session directory
// hears them: one per program of config.txt, the list's changes on SIGHUP,
// the deletions at the stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "runner_support.h"
#include "support/netns.h"
#include "support/sap_listener.h"

namespace {

using runner::Runner;
using runner::Scratch;

ProgramEntry Program(int number, const std::string& name, const char* address, int port, int group,
                     const std::string& remark) {
  ProgramEntry e = MakeProgram(number, name, address, port, group, 0);
  CopyField(e.szNote, remark);
  return e;
}

// The announcement says what the table says of the program.
void ExpectDescribes(const saptest::Message& m, const ProgramEntry& e) {
  SCOPED_TRACE(e.szName);
  EXPECT_FALSE(m.deletion);
  EXPECT_EQ(m.payloadType, "application/sdp");
  EXPECT_EQ(saptest::Line(m.payload, 'v'), "0");
  EXPECT_EQ(saptest::Line(m.payload, 's'), e.szName);
  EXPECT_EQ(saptest::Line(m.payload, 'i'), e.szNote);
  EXPECT_EQ(saptest::Line(m.payload, 'c'), std::string("IN IP4 ") + e.szMulticast + "/128");
  EXPECT_EQ(saptest::Line(m.payload, 'm'), "video " + std::to_string(e.nPort) + " udp mpeg");
  EXPECT_EQ(saptest::Attribute(m.payload, "cat"), std::to_string(e.nGroup));
  EXPECT_EQ(saptest::Line(m.payload, 't'), "0 0");
}

// The second field of the o= line.
std::string SessionId(const saptest::Message& m) {
  const std::string o = saptest::Line(m.payload, 'o');
  const size_t from = o.find(' ') + 1;
  return o.substr(from, o.find(' ', from) - from);
}

// Announcements by name; deletions by hash.
struct Heard {
  std::map<std::string, saptest::Message> announced;
  std::vector<saptest::Message> deleted;
  explicit Heard(const std::vector<saptest::Message>& messages) {
    for (const auto& m : messages) {
      if (m.deletion)
        deleted.push_back(m);
      else
        announced[saptest::Line(m.payload, 's')] = m;
    }
  }
  bool Deleted(const saptest::Message& announcement) const {
    return std::any_of(deleted.begin(), deleted.end(), [&](const saptest::Message& d) {
      return d.hash == announcement.hash && d.payload == "o=" + saptest::Line(announcement.payload, 'o') + "\r\n";
    });
  }
};

TEST(SapAnnouncements, FollowTheFileThroughAReloadAndEndWithTheRunner) {
  REQUIRE_PRIVATE_NETNS();
  saptest::Listener listener;
  ASSERT_TRUE(listener.Ok());
  Scratch scratch("iptv-sap");
  std::vector<ProgramEntry> list{Program(1, "News", "239.10.0.1", 5001, 3, "from the satellite"),
                                 Program(2, "Sport", "239.10.0.2", 5002, 4, ""),
                                 Program(3, "Movies", "239.10.0.3", 5003, 4, "")};
  const std::string config = scratch.File("config.txt");
  runner::WriteConfig(config, runner::ConfigOf(list, 1));
  Runner runner({"--config", config, "--interface", "127.0.0.1", "--state", scratch.File("onair"), "--sap"},
                scratch.dir / "out");
  ASSERT_TRUE(runner.Started());

  const Heard first(listener.Take(3, 5000));
  ASSERT_EQ(first.announced.size(), 3u) << runner.Err();
  for (const ProgramEntry& e : list) {
    ASSERT_EQ(first.announced.count(e.szName), 1u) << e.szName;
    const saptest::Message& m = first.announced.at(e.szName);
    ExpectDescribes(m, e);
    EXPECT_EQ(m.origin, "127.0.0.1") << "the send interface's address";
    EXPECT_EQ(m.origin, m.source);
  }

  // Sport renamed, Movies gone, Music new: two deletions, two announcements.
  CopyField(list[1].szName, "Sport HD");
  list.pop_back();
  list.push_back(Program(4, "Music", "239.10.0.4", 5004, 5, "radio"));
  runner::WriteConfig(config, runner::ConfigOf(list, 1));
  runner.Signal(SIGHUP);
  const Heard reload(listener.Take(4, 5000));
  EXPECT_EQ(reload.deleted.size(), 2u);
  EXPECT_TRUE(reload.Deleted(first.announced.at("Movies")));
  EXPECT_TRUE(reload.Deleted(first.announced.at("Sport")));
  ASSERT_EQ(reload.announced.size(), 2u);
  ExpectDescribes(reload.announced.at("Sport HD"), list[1]);
  ExpectDescribes(reload.announced.at("Music"), list[2]);
  EXPECT_EQ(SessionId(reload.announced.at("Sport HD")), SessionId(first.announced.at("Sport")))
      << "a renamed program stays the same session";

  // Nothing more until the five minutes are up.
  EXPECT_FALSE(listener.Next(500).has_value());

  runner.Signal(SIGTERM);
  const Heard last(listener.Take(3, 5000));
  EXPECT_EQ(runner::ExitCode(runner.WaitExit(std::chrono::seconds(10))), 0);
  EXPECT_EQ(last.deleted.size(), 3u);
  EXPECT_TRUE(last.Deleted(first.announced.at("News")));
  EXPECT_TRUE(last.Deleted(reload.announced.at("Sport HD")));
  EXPECT_TRUE(last.Deleted(reload.announced.at("Music")));
}

TEST(SapAnnouncements, NoneWithoutTheOption) {
  REQUIRE_PRIVATE_NETNS();
  saptest::Listener listener;
  ASSERT_TRUE(listener.Ok());
  Scratch scratch("iptv-nosap");
  const std::string config = scratch.File("config.txt");
  runner::WriteConfig(config, runner::ConfigOf({Program(1, "News", "239.10.0.1", 5001, 3, "")}, 1));
  Runner runner({"--config", config, "--interface", "Default", "--state", scratch.File("onair")}, scratch.dir / "out");
  ASSERT_TRUE(runner.Started());
  EXPECT_FALSE(listener.Next(1500).has_value());
  runner.Signal(SIGTERM);
  EXPECT_EQ(runner::ExitCode(runner.WaitExit(std::chrono::seconds(10))), 0);
}

// A capture by tshark, stopped and read back by its SAP and SDP dissectors:
// a second, independent reading of what went out.
class TsharkCapture {
 public:
  explicit TsharkCapture(const Scratch& scratch)
      : m_file(scratch.File("sap.pcapng")), m_err(scratch.File("tshark.err")) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const char* argv[] = {"tshark", "-i",           "lo", "-f",          "udp port 9875",
                          "-w",     m_file.c_str(), "-a", "duration:60", nullptr};
    m_ok = posix_spawnp(&m_pid, "tshark", &actions, nullptr, const_cast<char**>(argv), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    // Ready once it says it captures.
    for (int i = 0; m_ok && i < 500 && runner::ReadFile(m_err).find("Capture started") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ~TsharkCapture() { Stop(); }
  bool Ready() const { return m_ok && runner::ReadFile(m_err).find("Capture started") != std::string::npos; }
  void Stop() {
    if (m_pid <= 0) return;
    // What it took last must reach the file first.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(m_pid, SIGINT);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }
  // One line per SAP message: type (0 announce, 1 delete), name, c=, m=,
  // and the severity of anything the dissectors found wrong (empty if none).
  std::vector<std::string> Read() const {
    const std::string out = m_file + ".txt";
    const std::string cmd = "tshark -r '" + m_file +
                            "' -Y sap -T fields "
                            "-E separator='|' -e sap.flags.t -e sdp.session_name -e sdp.connection_info -e sdp.media "
                            "-e _ws.expert.severity "
                            "> '" +
                            out + "' 2>'" + out + ".err'";
    std::vector<std::string> lines;
    if (std::system(cmd.c_str()) != 0) return {"tshark failed: " + runner::ReadFile(out + ".err")};
    std::istringstream in(runner::ReadFile(out));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  std::string m_file, m_err;
  pid_t m_pid = -1;
  bool m_ok = false;
};

TEST(SapAnnouncements, ReadBackByTsharksDissectors) {
  REQUIRE_PRIVATE_NETNS();
  if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
  Scratch scratch("iptv-sap-tshark");
  TsharkCapture capture(scratch);
  if (!capture.Ready()) GTEST_SKIP() << "tshark cannot capture here";
  const std::vector<ProgramEntry> list{Program(1, "News", "239.10.0.1", 5001, 3, "remark"),
                                       Program(2, "Sport", "239.10.0.2", 5002, 4, "")};
  const std::string config = scratch.File("config.txt");
  runner::WriteConfig(config, runner::ConfigOf(list, 1));
  saptest::Listener listener;
  Runner runner({"--config", config, "--interface", "127.0.0.1", "--state", scratch.File("onair"), "--sap"},
                scratch.dir / "out");
  ASSERT_TRUE(runner.Started());
  EXPECT_EQ(listener.Take(2, 5000).size(), 2u);
  runner.Signal(SIGTERM);
  EXPECT_EQ(listener.Take(2, 5000).size(), 2u);
  EXPECT_EQ(runner::ExitCode(runner.WaitExit(std::chrono::seconds(10))), 0);
  capture.Stop();
  // Deletions carry the o= line alone: no name, no address.
  const std::vector<std::string> expected{"0|News|IN IP4 239.10.0.1/128|video 5001 udp mpeg|",
                                          "0|Sport|IN IP4 239.10.0.2/128|video 5002 udp mpeg|", "1||||", "1||||"};
  EXPECT_EQ(capture.Read(), expected);
}

}  // namespace
