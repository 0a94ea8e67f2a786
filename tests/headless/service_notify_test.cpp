// The runner under a service manager: what it reports over the notification
// socket, from the cycles' fields and as a process listening to a socket of
// our own, and the journal's priority prefixes.
#include "headless/service_notify.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdlib>

#include "headless/journal_log.h"
#include "runner_support.h"
#include "support/netns.h"

namespace {

CycleFields Sent(int sent, unsigned version = 3, int sections = 1) {
  return CycleFields{version, sections, 0, 188, sent};
}

bool Has(const std::string& message, const std::string& line) {
  return ("\n" + message).find("\n" + line) != std::string::npos;
}

TEST(ServiceReport, ReadyAfterTheFirstSendWatchdogOnlyWhileSendsSucceedAndTheLoopKeepsTime) {
  ServiceReport r(1000);  // fed every 250 ms while healthy
  EXPECT_EQ(r.Poll(0, 3, 20), "STATUS=starting\n");
  r.Cycle(Sent(0), 10);  // the first cycle: its own send not reported yet
  std::string m = r.Poll(20, 3, 20);
  EXPECT_FALSE(Has(m, "READY=1")) << m;
  EXPECT_FALSE(Has(m, "WATCHDOG=1")) << m;
  EXPECT_TRUE(Has(m, "STATUS=starting: version 3, 3 programs, 1 section")) << m;

  r.Cycle(Sent(188), 30);
  m = r.Poll(40, 3, 20);
  EXPECT_TRUE(Has(m, "READY=1")) << m;
  EXPECT_TRUE(Has(m, "WATCHDOG=1")) << m;
  EXPECT_TRUE(Has(m, "STATUS=on the air: version 3, 3 programs, 1 section")) << m;
  // Ready once; the status only when it changes; the watchdog at its pace.
  r.Cycle(Sent(188), 100);
  EXPECT_EQ(r.Poll(100, 3, 20), "");
  r.Cycle(Sent(188), 300);
  EXPECT_EQ(r.Poll(300, 3, 20), "WATCHDOG=1\n");

  // The air is lost: no more feeding, and the status says so.
  r.Cycle(Sent(-1), 400);
  m = r.Poll(600, 3, 20);
  EXPECT_FALSE(Has(m, "WATCHDOG=1")) << m;
  EXPECT_NE(m.find("SENDS FAILING; last failure: sends failing since "), std::string::npos) << m;
  r.Cycle(Sent(-1), 700);
  EXPECT_EQ(r.Poll(900, 3, 20), "");
  // Back on the air: fed again; the last failure stays in the status.
  r.Cycle(Sent(188, 4), 1000);
  m = r.Poll(1000, 3, 20);
  EXPECT_TRUE(Has(m, "WATCHDOG=1")) << m;
  EXPECT_TRUE(Has(m, "STATUS=on the air: version 4, 3 programs, 1 section; last failure: sends failing since")) << m;

  // A broadcast thread that stops cycling is not fed past period + grace.
  EXPECT_EQ(r.Poll(1000 + 20 + ServiceReport::kCycleGraceMs, 3, 20), "WATCHDOG=1\n");
  EXPECT_EQ(r.Poll(1000 + 21 + ServiceReport::kCycleGraceMs + 500, 3, 20), "");

  r.Failure("reload refused");
  EXPECT_NE(r.Poll(5000, 3, 20).find("; last failure: reload refused at "), std::string::npos);
}

TEST(ServiceReport, ReadyWithoutAReportedSendWhenNoneCanCome) {
  struct Case {
    const char* what;
    CycleFields first;
    uint32_t period;
    bool ready;
  };
  const Case cases[] = {
      {"an empty list has nothing to send", Sent(0, 1, 0), 20, true},
      {"a period of all ones has no second cycle", Sent(0), 0xFFFFFFFFu, true},
      {"a timed period waits for the report", Sent(0), 20, false},
  };
  for (const Case& c : cases) {
    ServiceReport r(0);
    r.Cycle(c.first, 0);
    const std::string m = r.Poll(10, 0, c.period);
    EXPECT_EQ(Has(m, "READY=1"), c.ready) << c.what << ": " << m;
    EXPECT_FALSE(Has(m, "WATCHDOG=1")) << c.what << ": no watchdog asked for";
  }
}

TEST(JournalLog, StderrIsTheJournalOnlyWhenDeviceAndInodeMatch) {
  runner::Scratch dir("iptv-journal");
  const std::string path = dir.File("stream");
  std::ofstream(path) << "";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct stat st {};
  ASSERT_EQ(fstat(fd, &st), 0);
  const std::string match = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  EXPECT_TRUE(StreamIsJournal(match.c_str(), fd));
  for (const std::string& other : {std::string(), std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1),
                                   match + "x", std::string("garbage"), std::to_string(st.st_ino)})
    EXPECT_FALSE(StreamIsJournal(other.c_str(), fd)) << "'" << other << "'";
  close(fd);
}

// A datagram socket bound to an abstract name, as systemd's.
class NotifyListener {
 public:
  explicit NotifyListener(const std::string& name) {
    m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path + 1, name.data(), name.size());
    m_bound = bind(m_fd, reinterpret_cast<sockaddr*>(&a),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) == 0;
  }
  ~NotifyListener() { close(m_fd); }
  bool Bound() const { return m_bound; }
  // The datagrams of the next `ms` milliseconds, or until one holds `until`.
  std::vector<std::string> Receive(int ms, const std::string& until = "\x01") {
    std::vector<std::string> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{m_fd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buf[4096];
      const ssize_t n = recv(m_fd, buf, sizeof buf, 0);
      if (n <= 0) continue;
      got.emplace_back(buf, static_cast<size_t>(n));
      if (got.back().find(until) != std::string::npos) break;
    }
    return got;
  }

 private:
  int m_fd = -1;
  bool m_bound = false;
};

int Count(const std::vector<std::string>& datagrams, const std::string& line) {
  int n = 0;
  for (const std::string& d : datagrams) n += Has(d, line) ? 1 : 0;
  return n;
}

std::string Joined(const std::vector<std::string>& datagrams) {
  std::string all;
  for (const std::string& d : datagrams) all += d + "|";
  return all;
}

// The whole protocol as systemd would see it: the runner is started with the
// variables systemd sets (NOTIFY_SOCKET with an abstract name, WATCHDOG_USEC,
// JOURNAL_STREAM naming its standard error), the route to the group is taken
// away and given back.
TEST(ServiceNotify, TheRunnerReportsReadyStatusAndFeedsTheWatchdogOnlyWhileItsSendsSucceed) {
  REQUIRE_PRIVATE_NETNS();
  runner::Scratch dir("iptv-notify");
  const std::string name = "iptv-notify-test-" + std::to_string(getpid());
  NotifyListener listener(name);
  ASSERT_TRUE(listener.Bound());
  const std::string config = dir.File("list.conf");
  runner::WriteConfig(config,
                      "IPTV multicast IP List\r\n@freq:20#\r\n@version:5#\r\n@index:1#\r\n"
                      "@mcast:101:News:224.2.2.1:10001:studio:2:1#\r\n@mcast:102:Sport:224.2.2.2:10002::3:0#\r\n"
                      "@end#\r\n");
  const std::filesystem::path out = dir.File("out");
  std::ofstream(out.string() + ".err") << "";
  struct stat st {};
  ASSERT_EQ(stat((out.string() + ".err").c_str(), &st), 0);
  setenv("NOTIFY_SOCKET", ("@" + name).c_str(), 1);
  setenv("WATCHDOG_USEC", "800000", 1);
  setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
  runner::Runner r({"--config", config, "--interface", "Default", "--changes-only", "--state", dir.File("onair")}, out);
  unsetenv("NOTIFY_SOCKET");
  unsetenv("WATCHDOG_USEC");
  unsetenv("JOURNAL_STREAM");
  ASSERT_TRUE(r.Started());

  std::vector<std::string> got = listener.Receive(3000, "READY=1");
  ASSERT_EQ(Count(got, "READY=1"), 1) << Joined(got);
  got = listener.Receive(1000);
  EXPECT_GE(Count(got, "WATCHDOG=1"), 3) << "fed at four times the interval: " << Joined(got);
  EXPECT_EQ(Count(got, "READY=1"), 0);

  // A good reload is a notice.
  r.Signal(SIGHUP);
  for (int i = 0; i < 200 && r.Err().find("reloaded") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(r.Err().find("<6>iptv-headless: reloaded " + config + ": 2 programs\n"), std::string::npos) << r.Err();

  // A broken list on SIGHUP: a warning for the journal, the status names it.
  runner::WriteConfig(config, "IPTV multicast IP List\r\n@mcast:101:News:224.2.2.999:10001::2:1#\r\n@end#\r\n");
  r.Signal(SIGHUP);
  got = listener.Receive(2000, "reload refused");
  EXPECT_NE(Joined(got).find("STATUS=on the air: version"), std::string::npos) << Joined(got);
  EXPECT_NE(Joined(got).find("2 programs, 1 section; last failure: reload refused at "), std::string::npos)
      << Joined(got);
  const std::string err = r.Err();
  EXPECT_NE(err.find("<4>iptv-headless: reload refused"), std::string::npos) << err;
  for (size_t at = 0; at < err.size(); at = err.find('\n', at) + 1) {
    if (err.find('\n', at) == std::string::npos) break;
    EXPECT_EQ(err[at], '<') << "every line carries its priority: " << err.substr(at, err.find('\n', at) - at);
  }

  // The air is lost: the watchdog goes hungry and the status says why.
  ASSERT_EQ(std::system("ip route del 224.0.0.0/4 dev lo"), 0);
  const std::vector<std::string> before = listener.Receive(300);  // what was on its way
  got = listener.Receive(1500);
  EXPECT_EQ(Count(got, "WATCHDOG=1"), 0) << Joined(got);
  EXPECT_NE((Joined(before) + Joined(got)).find("SENDS FAILING; last failure: sends failing since "), std::string::npos)
      << Joined(before) << Joined(got);
  ASSERT_EQ(std::system("ip route add 224.0.0.0/4 dev lo"), 0);
  got = listener.Receive(1500, "WATCHDOG=1");
  EXPECT_EQ(Count(got, "WATCHDOG=1"), 1) << "fed again once the air is back: " << Joined(got);

  r.Signal(SIGTERM);
  EXPECT_EQ(runner::ExitCode(r.WaitExit(std::chrono::seconds(5))), 0);
  got = listener.Receive(500, "STOPPING=1");
  EXPECT_EQ(Count(got, "STOPPING=1"), 1) << Joined(got);
}

// Outside systemd nothing is sent and nothing is prefixed.
TEST(ServiceNotify, WithoutTheVariablesThereIsNoSocketNoWatchdogAndNoPrefix) {
  for (const char* bad : {"", "relative/path", "@"}) EXPECT_FALSE(NotifySocket(bad).Active()) << bad;
  EXPECT_TRUE(NotifySocket("@x").Active());
  unsetenv("WATCHDOG_USEC");
  EXPECT_EQ(WatchdogIntervalMs(), 0);
  setenv("WATCHDOG_USEC", "3000000", 1);
  setenv("WATCHDOG_PID", std::to_string(getpid() + 1).c_str(), 1);
  EXPECT_EQ(WatchdogIntervalMs(), 0) << "meant for another process";
  setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
  EXPECT_EQ(WatchdogIntervalMs(), 3000);
  unsetenv("WATCHDOG_USEC");
  unsetenv("WATCHDOG_PID");
}

}  // namespace
