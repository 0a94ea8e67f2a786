// The runner's /status and /metrics while it broadcasts (and listens back),
// and the monitor's /metrics while it receives, as the head end's monitoring
// reads them: the figures follow a reload and a broken route, and a real
// Prometheus parser accepts every scrape. Inside a private network namespace.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "runner_support.h"
#include "support/http_get.h"
#include "support/netns.h"

namespace {

using namespace runner;

constexpr uint16_t kRunnerPort = 9310;
constexpr uint16_t kMonitorPort = 9311;

// The integer after "key": in a flat JSON object, -1 when absent or null.
long long JsonInt(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\":");
  if (at == std::string::npos) return -1;
  const char* p = json.c_str() + at + key.size() + 3;
  if (*p == 't') return 1;  // true
  if (*p < '0' || *p > '9') return *p == 'f' ? 0 : -1;
  return std::atoll(p);
}

bool Until(const std::function<bool()>& done, int seconds = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// Feeds a scrape to the prometheus_client text parser of Debian's
// python3-prometheus-client. Each sample comes back as "name{labels} value";
// a family without # TYPE, or a counter without its _total, fails the parse.
struct Parsed {
  bool available = true;
  bool ok = false;
  std::string output;  // the samples, or the parser's complaint
};
Parsed ParseWithPrometheusClient(const std::string& text, const Scratch& scratch) {
  const std::string in = scratch.File("scrape.txt"), out = scratch.File("parsed.txt");
  std::ofstream(in, std::ios::binary) << text;
  const std::string script =
      "import sys\n"
      "try:\n"
      "    from prometheus_client.parser import text_string_to_metric_families\n"
      "except ImportError:\n"
      "    sys.exit(3)\n"
      "for fam in text_string_to_metric_families(open(sys.argv[1]).read()):\n"
      "    assert fam.type in ('counter', 'gauge'), fam.name + ': no TYPE'\n"
      "    for s in fam.samples:\n"
      "        if fam.type == 'counter': assert s.name == fam.name + '_total', s.name\n"
      "        labels = ','.join(f'{k}={v}' for k, v in sorted(s.labels.items()))\n"
      "        print(f'{s.name}{{{labels}}} {s.value:g}')\n";
  const std::string command = "/usr/bin/python3 -c \"" + script + "\" " + in + " >" + out + " 2>&1";
  const int status = std::system(command.c_str());
  Parsed p;
  p.available = !(WIFEXITED(status) && WEXITSTATUS(status) == 3);
  p.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  p.output = ReadFile(out);
  return p;
}

#define EXPECT_PARSED(p, text)                                                                                    \
  do {                                                                                                            \
    if (!(p).available) GTEST_SKIP() << "python3-prometheus-client is not installed (scripts/install-deps test)"; \
    ASSERT_TRUE((p).ok) << (p).output << "\n--- the scrape:\n" << (text);                                         \
  } while (0)

double Sample(const Parsed& p, const std::string& name) {
  const size_t at = p.output.find(name + "{} ");
  return at == std::string::npos ? -1 : std::atof(p.output.c_str() + at + name.size() + 3);
}

pid_t SpawnMonitor(const std::vector<std::string>& args, const std::string& out) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (out + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv{const_cast<char*>(IPTV_MONITOR_PATH)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, IPTV_MONITOR_PATH, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST(StatusEndpoint, FollowsReloadAndBrokenRouteAndScrapesParse) {
  REQUIRE_PRIVATE_NETNS();
  Scratch scratch("iptv-status");
  const std::string config = scratch.File("config.txt");
  const std::vector<ProgramEntry> one = Tagged(1, "first"), two = Tagged(2, "second");
  WriteConfig(config, ConfigOf(one, 3));
  Runner runner({"--config", config, "--interface", "Default", "--state", scratch.File("onair"), "--status-listen",
                 std::to_string(kRunnerPort), "--listen-back"},
                scratch.File("out"));
  ASSERT_TRUE(runner.Started());
  std::string status;
  auto read = [&] {
    status = HttpGet(kRunnerPort, "/status").body;
    return JsonInt(status, "packets_sent") > 0;
  };
  ASSERT_TRUE(Until(read)) << status << runner.Err();
  EXPECT_EQ(JsonInt(status, "programs"), static_cast<long long>(one.size()));
  EXPECT_EQ(JsonInt(status, "sections"), 1);
  EXPECT_EQ(JsonInt(status, "send_period_ms"), 10);
  EXPECT_EQ(JsonInt(status, "bytes_room"), 6144);
  EXPECT_EQ(JsonInt(status, "packets_failed"), 0);
  const long long firstVersion = JsonInt(status, "version"), firstBytes = JsonInt(status, "bytes_used");
  EXPECT_EQ(firstVersion, 4);

  // The monitor beside it, scraped the same way.
  const pid_t monitor =
      SpawnMonitor({"--quiet", "--duration", "60", "--metrics-listen", "127.0.0.1:" + std::to_string(kMonitorPort)},
                   scratch.File("monitor"));
  ASSERT_GT(monitor, 0);
  std::string monitorScrape;
  ASSERT_TRUE(Until([&] {
    monitorScrape = HttpGet(kMonitorPort, "/metrics").body;
    return monitorScrape.find("\niptv_monitor_play_lists_total 1\n") != std::string::npos;
  })) << monitorScrape;
  const Parsed fromMonitor = ParseWithPrometheusClient(monitorScrape, scratch);
  // A port taken, or no address, is a bad start (status 2) with the reason.
  for (const std::string& listen : {"127.0.0.1:" + std::to_string(kMonitorPort), std::string("nowhere:1")}) {
    const pid_t refused =
        SpawnMonitor({"--quiet", "--duration", "5", "--metrics-listen", listen}, scratch.File("refused"));
    int wait = 0;
    ASSERT_EQ(waitpid(refused, &wait, 0), refused);
    EXPECT_EQ(ExitCode(wait), 2) << listen;
    EXPECT_NE(ReadFile(scratch.File("refused.err")).find("iptv-monitor: --metrics-listen: "), std::string::npos)
        << listen;
  }
  kill(monitor, SIGTERM);
  waitpid(monitor, nullptr, 0);
  EXPECT_PARSED(fromMonitor, monitorScrape);
  EXPECT_EQ(Sample(fromMonitor, "iptv_monitor_last_version"), firstVersion);
  EXPECT_EQ(Sample(fromMonitor, "iptv_monitor_sources"), 1);
  EXPECT_EQ(Sample(fromMonitor, "iptv_monitor_crc_errors_total"), 0);
  EXPECT_GT(Sample(fromMonitor, "iptv_monitor_packets_total"), 0);

  // An edited file at SIGHUP: a new version, more programs and sections.
  WriteConfig(config, ConfigOf(two, 9));
  runner.Signal(SIGHUP);
  ASSERT_TRUE(Until([&] {
    read();
    return JsonInt(status, "programs") == static_cast<long long>(two.size());
  })) << status;
  ASSERT_TRUE(Until([&] {
    read();
    return JsonInt(status, "version") == 10;
  })) << status;
  // The runner hears the new list back as a box would.
  auto heard = [&] { return status.substr(status.find("\"listen_back\":")); };
  ASSERT_TRUE(Until([&] {
    read();
    return JsonInt(heard(), "version") == 10;
  })) << status;
  EXPECT_EQ(JsonInt(heard(), "programs"), static_cast<long long>(two.size()));
  EXPECT_EQ(JsonInt(heard(), "crc_errors"), 0);
  EXPECT_EQ(JsonInt(heard(), "continuity_errors"), 0);
  EXPECT_EQ(JsonInt(status, "sections"), 2);
  EXPECT_GT(JsonInt(status, "bytes_used"), firstBytes);
  std::string scrape = HttpGet(kRunnerPort, "/metrics").body;
  Parsed parsed = ParseWithPrometheusClient(scrape, scratch);
  EXPECT_PARSED(parsed, scrape);
  EXPECT_EQ(Sample(parsed, "iptv_playlist_version"), 10);
  EXPECT_EQ(Sample(parsed, "iptv_playlist_programs"), static_cast<double>(two.size()));
  EXPECT_EQ(Sample(parsed, "iptv_playlist_sections"), 2);
  EXPECT_EQ(Sample(parsed, "iptv_send_period_seconds"), 0.01);
  EXPECT_EQ(Sample(parsed, "iptv_send_failures_total"), 0);
  EXPECT_EQ(Sample(parsed, "iptv_listen_back_version"), 10);
  EXPECT_EQ(Sample(parsed, "iptv_listen_back_sources"), 1);

  // No route to the group: every send fails, and the figures say so.
  ASSERT_EQ(std::system("ip route del 224.0.0.0/4 dev lo"), 0);
  ASSERT_TRUE(Until([&] {
    read();
    return JsonInt(status, "packets_failed") >= 5 && JsonInt(status, "failing") == 1;
  })) << status;
  EXPECT_NE(status.find("\"last_failure\":{\"time\":"), std::string::npos) << status;
  scrape = HttpGet(kRunnerPort, "/metrics").body;
  parsed = ParseWithPrometheusClient(scrape, scratch);
  EXPECT_PARSED(parsed, scrape);
  EXPECT_GE(Sample(parsed, "iptv_send_failures_total"), 5);
  EXPECT_EQ(Sample(parsed, "iptv_sending_failing"), 1);
  EXPECT_GT(Sample(parsed, "iptv_last_send_failure_timestamp_seconds"), 0);

  // The route back: sending resumes, the failures stay counted.
  ASSERT_EQ(std::system("ip route add 224.0.0.0/4 dev lo"), 0);
  const long long sentBefore = JsonInt(status, "packets_sent");
  ASSERT_TRUE(Until([&] {
    read();
    return JsonInt(status, "failing") == 0 && JsonInt(status, "packets_sent") > sentBefore;
  })) << status;
  EXPECT_GE(JsonInt(status, "packets_failed"), 5);

  // A second runner cannot have the same port: it says so and does not start.
  Runner second({"--config", config, "--interface", "Default", "--state", scratch.File("onair2"), "--status-listen",
                 "127.0.0.1:" + std::to_string(kRunnerPort)},
                scratch.File("out2"));
  EXPECT_EQ(ExitCode(second.WaitExit(std::chrono::seconds(5))), 1);
  EXPECT_NE(second.Err().find("--status-listen: cannot listen on 127.0.0.1:9310: Address already in use"),
            std::string::npos)
      << second.Err();

  runner.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(runner.WaitExit(std::chrono::seconds(5))), 0);
}

}  // namespace
