// The runner when the network under it breaks, inside the private namespace
// with the veth pair vt0 10.77.0.1 <-> vt1 10.77.0.2: a lost route and an
// interface deleted and created again are each told once on standard error,
// with the system's reason, and so is the recovery; the air comes back by
// itself. The cycle's log lines stay as they are.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <cstdlib>

#include "runner_support.h"
#include "storage/interface_choice.h"
#include "support/netns.h"

namespace {

using namespace runner;

constexpr const char* kFailing = "iptv-headless: the play list cannot be sent to 224.1.1.1:10001: ";
constexpr const char* kWorking = "iptv-headless: the play list is sent to 224.1.1.1:10001 again, after ";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Polls the runner's standard error (bounded) until it holds `what`.
bool ErrUntil(Runner& r, const std::string& what, std::chrono::seconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (r.Err().find(what) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class SendFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETNS();
    if (if_nametoindex("vt0") == 0) GTEST_SKIP() << "no veth pair (run with --veth)";
    WriteConfig(m_scratch.File("config.txt"), ConfigOf(Tagged(1, "air"), 3));
  }
  std::vector<std::string> Args(const char* interface) const {
    return {"--config", m_scratch.File("config.txt"), "--interface", interface, "--state", m_scratch.File("onair")};
  }
  static void Ip(const std::string& command) { ASSERT_EQ(std::system(("ip " + command).c_str()), 0) << command; }
  Scratch m_scratch{"iptv-send-failure"};
};

TEST_F(SendFailureTest, ALostRouteIsToldOnceWithItsReasonAndSoIsItsReturn) {
  Runner runner(Args("Default"), m_scratch.dir / "out");
  ASSERT_TRUE(runner.Started());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Ip("route del 224.0.0.0/4 dev vt0");
  const bool told = ErrUntil(runner, "Network is unreachable");
  // Many cycles fail while the route is away.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Ip("route add 224.0.0.0/4 dev vt0");
  ASSERT_TRUE(told) << runner.Err();
  ASSERT_TRUE(ErrUntil(runner, kWorking)) << runner.Err();
  runner.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(runner.WaitExit(std::chrono::seconds(5))), 0);

  const std::string err = runner.Err();
  EXPECT_EQ(Count(err, kFailing), 1u) << err;
  EXPECT_NE(err.find(std::string(kFailing) + "Network is unreachable; the broadcast goes on"), std::string::npos)
      << err;
  EXPECT_EQ(Count(err, kWorking), 1u) << err;
  EXPECT_LT(err.find(kFailing), err.find(kWorking));
  // The log lines are the cycle's own: the loss shows as sent:-1 there, and
  // nothing else was added to them.
  const std::string out = ReadFile(m_scratch.dir / "out");
  EXPECT_NE(out.find(",sent:-1,\r\n"), std::string::npos);
  EXPECT_EQ(out.find("cannot"), std::string::npos);
}

TEST_F(SendFailureTest, AnInterfaceDeletedAndCreatedAgainCarriesTheAirAgainByItself) {
  const uint32_t vt1 = inet_addr("10.77.0.2");
  Runner runner(Args("10.77.0.1"), m_scratch.dir / "out");
  ASSERT_TRUE(runner.Started());
  {
    AirReceiver air;
    ASSERT_TRUE(air.Open(vt1)) << air.error;
    ASSERT_TRUE(air.Until([&] { return !air.lists.empty(); })) << runner.Err();
  }
  Ip("link del vt0");  // takes its peer vt1 with it
  ASSERT_TRUE(ErrUntil(runner, kFailing)) << runner.Err();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Ip("link add vt0 type veth peer name vt1");
  Ip("addr add 10.77.0.1/24 dev vt0");
  Ip("addr add 10.77.0.2/24 dev vt1");
  Ip("link set vt0 up");
  Ip("link set vt1 up");
  Ip("route add 224.0.0.0/4 dev vt0");
  ASSERT_EQ(std::system("sysctl -qw net.ipv4.conf.vt1.rp_filter=0 net.ipv4.conf.vt1.accept_local=1"), 0);

  AirReceiver air;
  ASSERT_TRUE(air.Open(vt1)) << air.error;
  EXPECT_TRUE(air.Until([&] { return !air.lists.empty(); }, std::chrono::seconds(2)))
      << "no list on vt1 within two seconds\n"
      << runner.Err();
  EXPECT_TRUE(ErrUntil(runner, kWorking, std::chrono::seconds(2))) << runner.Err();
  runner.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(runner.WaitExit(std::chrono::seconds(5))), 0);
  const std::string err = runner.Err();
  EXPECT_EQ(Count(err, kFailing), 1u) << err;
  EXPECT_EQ(Count(err, kWorking), 1u) << err;
}

// The choice the window stored names an address no interface here has: the
// runner sends through Default, as the window does, and says so.
TEST_F(SendFailureTest, AStoredInterfaceThatIsNotHereIsSaidToFallBackToDefault) {
  setenv("XDG_CONFIG_HOME", m_scratch.dir.c_str(), 1);
  CRegistryValue store;
  ASSERT_TRUE(store.WriteString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, IPTV_VALUE_NAME, "10.99.99.99"));
  Runner runner({"--config", m_scratch.File("config.txt"), "--state", m_scratch.File("onair")}, m_scratch.dir / "out");
  ASSERT_TRUE(runner.Started());
  AirReceiver air;
  ASSERT_TRUE(air.Open(inet_addr("10.77.0.2"))) << air.error;
  EXPECT_TRUE(air.Until([&] { return !air.lists.empty(); })) << runner.Err();
  runner.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(runner.WaitExit(std::chrono::seconds(5))), 0);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(runner.Err(),
            "iptv-headless: the stored send interface 10.99.99.99 is not here; sending through Default\n");
}

}  // namespace
