// The play list as an independent decoder sees it: the loop broadcasts a
// three-section table, tshark captures it in the namespace and decodes it
// (transport packets, section CRC, section numbers), and nothing may be
// amiss. Skips when tshark is not installed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../support/netns.h"
#include "air_support.h"
#include "broadcast/udp_socket.h"

extern char** environ;

namespace {

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* f = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    pclose(f);
  }
  return out;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, sep)) parts.push_back(part);
  if (!s.empty() && s.back() == sep) parts.emplace_back();
  return parts;
}

// tshark capturing in the background; its standard error tells when the
// capture has begun.
class Capture {
 public:
  bool Start(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawnp(&m_pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    m_err = fds[0];
    return rc == 0;
  }
  // Bounded wait for `text` on its standard error.
  bool WaitFor(const std::string& text, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (m_stderr.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= end) return false;
      pollfd p{m_err, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[512];
      const ssize_t n = read(m_err, buf, sizeof buf);
      if (n <= 0) return false;
      m_stderr.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  // Bounded wait for the end; killed when it does not come.
  bool Wait(std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= end) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return false;
      }
      WaitFor("\x01never", std::chrono::seconds(0));  // keep the pipe drained
      pollfd p{m_err, POLLIN, 0};
      poll(&p, 1, 50);
    }
    m_pid = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  ~Capture() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_err >= 0) close(m_err);
  }
  const std::string& Stderr() const { return m_stderr; }

 private:
  pid_t m_pid = -1;
  int m_err = -1;
  std::string m_stderr;
};

TEST(Tshark, IndependentDecoderFindsEverySectionGood) {
  REQUIRE_PRIVATE_NETNS();
  if (Shell("command -v tshark").empty()) GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
  char dir[] = "/tmp/iptv-tshark-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string pcap = std::string(dir) + "/air.pcapng";
  constexpr int kPackets = 60;  // three full rotations of three six-packet sections, and some

  Capture capture;
  ASSERT_TRUE(capture.Start(
      {"tshark", "-i", "lo", "-f", "udp port 10001", "-c", std::to_string(kPackets), "-a", "duration:60", "-w", pcap}));
  ASSERT_TRUE(capture.WaitFor("Capturing on", std::chrono::seconds(30))) << capture.Stderr();

  SetTable(TableOfSections(3), 12, true);
  UdpSocket socket;
  MonotonicPause pause;
  FixedClock clock;
  RecordingSink sink;
  std::atomic<uint32_t> rate{10};
  BroadcastLoop loop(socket, pause, clock, sink, rate);
  loop.Start(0);
  const bool finished = capture.Wait(std::chrono::seconds(90));
  loop.Stop();
  ASSERT_TRUE(finished) << capture.Stderr();

  const std::string decode = "tshark -r " + pcap + " -o mpeg_sect.verify_crc:TRUE -d udp.port==10001,mp2t";
  const std::string fields = Shell(decode +
                                   " -T fields -E separator=/t -E occurrence=a -E aggregator=, -e mp2t.pid -e mp2t.cc"
                                   " -e mp2t.pusi -e mpeg_sect.crc.status -e dvb_nit.sect_num -e dvb_nit.last_sect_num"
                                   " -e mp2t.analysis.skips -e _ws.expert.message 2>/dev/null");
  SCOPED_TRACE(fields);
  const std::vector<std::string> rows = Split(fields, '\n');
  ASSERT_GE(rows.size(), static_cast<size_t>(kPackets));
  int lastCc = -1, goodCrc = 0;
  std::set<int> sectionNumbers, lastNumbers;
  for (int i = 0; i < kPackets; ++i) {
    const std::vector<std::string> f = Split(rows[i], '\t');
    ASSERT_GE(f.size(), 8u) << rows[i];
    EXPECT_EQ(std::strtol(f[0].c_str(), nullptr, 0), 0x0010) << rows[i];
    const int cc = std::atoi(f[1].c_str());
    if (lastCc >= 0) {
      EXPECT_EQ(cc, (lastCc + 1) % 16) << rows[i];
    }
    lastCc = cc;
    // 1 is good; 0 bad, 2 unverified.
    for (const std::string& st : Split(f[3], ',')) {
      EXPECT_EQ(st, "1") << rows[i];
      goodCrc += st == "1";
    }
    for (const std::string& n : Split(f[4], ',')) sectionNumbers.insert(std::atoi(n.c_str()));
    for (const std::string& n : Split(f[5], ',')) lastNumbers.insert(std::atoi(n.c_str()));
    EXPECT_TRUE(f[6].empty() || f[6] == "0") << "continuity skips: " << rows[i];
    EXPECT_TRUE(f[7].empty()) << "expert info: " << rows[i];
  }
  EXPECT_GE(goodCrc, 8);
  EXPECT_EQ(sectionNumbers, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(lastNumbers, std::set<int>{2});
  Shell("rm -rf " + std::string(dir));
}

}  // namespace
