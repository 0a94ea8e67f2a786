// iptv-monitor as a probe, on real sockets inside the private namespace:
// senders on two loopback addresses (the source address comes from the
// datagram itself), a forged section from the second, names that would
// break a terminal or a JSON reader, and the exit status a health check
// reads. The JSON output is read back by Python's json module from strict
// UTF-8.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../broadcast/test_support.h"
#include "../support/netns.h"
#include "broadcast/packetizer.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> Sections(const std::vector<ProgramEntry>& programs, uint8_t version) {
  SectionBuffers buf{};
  uint8_t last = 0;
  BuildSection(buf, 0, last, 0, {programs.data(), static_cast<int>(programs.size()), version}, FixedClock());
  std::vector<Bytes> out;
  for (int k = 0; k <= last; ++k) out.emplace_back(buf[k], buf[k] + SectionTotalSize(buf[k]));
  return out;
}

std::vector<ProgramEntry> Numbered(int count, const char* prefix) {
  std::vector<ProgramEntry> v;
  char name[64];
  for (int i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "%s %07d", prefix, i);
    v.push_back(MakeProgram(i + 1, name, "239.0.0.1", 1234, 0, 0));
  }
  return v;
}

// One sender: a socket bound to its own loopback address, its continuity
// counter, and the sections it puts on the air in rotation.
struct Station {
  Station(const char* address, std::vector<Bytes> rotation) : sections(std::move(rotation)) {
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr(address);
    bound = fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
            setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local.sin_addr, sizeof local.sin_addr) == 0;
  }
  ~Station() {
    if (fd >= 0) close(fd);
  }
  void SendNext() {
    const sockaddr_in to = PlayListDestination();
    PacketizeSection(sections[next++ % sections.size()].data(), cc, [&](const uint8_t* p) {
      (void)sendto(fd, p, wire::TS_PACKET_SIZE, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    });
  }
  int fd = -1;
  bool bound = false;
  uint8_t cc = 0;
  size_t next = 0;
  std::vector<Bytes> sections;
};

struct MonitorRun {
  std::string out, err;
  int status = -1;
};

// Runs the monitor with `args` while the stations send, one section each
// every 20 ms, until it ends.
MonitorRun RunMonitor(const std::string& args, std::vector<Station*> stations) {
  const std::string errFile = "monitor_probe.stderr";
  MonitorRun run;
  FILE* f = popen((std::string(IPTV_MONITOR_PATH) + " " + args + " 2>" + errFile).c_str(), "r");
  if (f == nullptr) return run;
  std::atomic<bool> done{false};
  std::thread air([&] {
    while (!done.load()) {
      for (Station* s : stations) s->SendNext();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) run.out.append(buf, n);
  const int st = pclose(f);
  done.store(true);
  air.join();
  run.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream in(errFile, std::ios::binary);
  run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

// Reads --json output with Python's json module from strict UTF-8 (a bad
// byte or bad JSON fails it) and prints one line per list: source, version,
// the names as ASCII JSON and each name_hex; then the sources and the
// failed checks.
std::string ReadJson(const std::string& out, int* status) {
  const std::string file = "monitor_probe.json";
  std::ofstream(file, std::ios::binary) << out;
  const std::string script =
      "import json, sys\n"
      "for raw in open(sys.argv[1], 'rb').read().split(b'\\n'):\n"
      "    if not raw: continue\n"
      "    o = json.loads(raw.decode('utf-8'))\n"
      "    if 'programs' in o:\n"
      "        print('list', o['source'], o['version'], json.dumps([p['name'] for p in o['programs']]),\n"
      "              ' '.join(p.get('name_hex', '-') for p in o['programs']))\n"
      "    else:\n"
      "        print('end', ' '.join(sorted(s['address'] for s in o['counters']['sources'])),\n"
      "              ' '.join(f['check'] for f in o['checks']['failed']) or 'passed')\n";
  std::ofstream("monitor_probe.py") << script;
  std::string got;
  FILE* f = popen(("python3 monitor_probe.py " + file + " 2>&1").c_str(), "r");
  char buf[4096];
  for (size_t n; f && (n = fread(buf, 1, sizeof buf, f)) > 0;) got.append(buf, n);
  const int st = f ? pclose(f) : -1;
  *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return got;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class MonitorProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETNS();
    if (std::system("python3 -c 'import json' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
  }
};

// A second sender with the same version and one forged section made the
// monitor print a list nobody sent. Now the lists it prints are the real
// sender's, the second source is named, and the probe fails.
TEST_F(MonitorProbe, ForgedSectionFromASecondSource) {
  const std::vector<ProgramEntry> real = Numbered(40, "real program"), forged = Numbered(40, "fake program");
  Station sender("127.0.0.1", Sections(real, 5));
  Station forger("127.0.0.2", {Sections(forged, 5)[1]});
  ASSERT_TRUE(sender.bound && forger.bound);
  ASSERT_EQ(sender.sections.size(), 2u);
  std::string names;
  for (const ProgramEntry& e : real) names += std::string(names.empty() ? "[" : ", ") + "\"" + e.szName + "\"";
  std::string hex = "-";  // no name_hex: every name is UTF-8
  for (size_t i = 1; i < real.size(); ++i) hex += " -";
  const std::string realList = "list 127.0.0.1 5 " + names + "] " + hex;

  for (const char* args : {"--json --duration 1.5", "--json --duration 1.5 --expect-source 127.0.0.1"}) {
    SCOPED_TRACE(args);
    const MonitorRun run = RunMonitor(args, {&sender, &forger});
    EXPECT_EQ(run.status, 1) << run.err;
    int py = -1;
    const std::vector<std::string> lines = Lines(ReadJson(run.out, &py));
    ASSERT_EQ(py, 0) << run.out;
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[0], realList);
    EXPECT_EQ(lines[1], "end 127.0.0.1 127.0.0.2 sources");
    EXPECT_NE(run.err.find("another source sends to the group: 127.0.0.2"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("check failed:"), std::string::npos) << run.err;
  }
}

// The exit status a health check reads: 0 only for one clean source with a
// whole list in time.
TEST_F(MonitorProbe, ExitStatusSaysWhetherTheChecksPassed) {
  Station sender("127.0.0.1", Sections(Numbered(3, "p"), 9));
  ASSERT_TRUE(sender.bound);
  struct Case {
    const char* args;
    int status;
    const char* failed;
  };
  const Case cases[] = {
      {"--quiet --json --once --duration 5 --expect-source 127.0.0.1", 0, "passed"},
      {"--quiet --json --duration 0.5", 0, "passed"},
      {"--quiet --json --duration 0.5 --expect-source 127.0.0.9", 1, "sources play_list"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const MonitorRun run = RunMonitor(c.args, {&sender});
    EXPECT_EQ(run.status, c.status) << run.err;
    int py = -1;
    const std::vector<std::string> lines = Lines(ReadJson(run.out, &py));
    ASSERT_EQ(py, 0) << run.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "end 127.0.0.1 " + std::string(c.failed));
  }
  const MonitorRun bad = RunMonitor("--expect-source nowhere", {});
  EXPECT_EQ(bad.status, 2);
}

// A name with a line break and an escape sequence printed a fake row and
// coloured the terminal; a name in another code page (GBK) made the JSON
// invalid UTF-8.
TEST_F(MonitorProbe, NamesWithControlBytesAndAnotherCodePage) {
  const std::vector<ProgramEntry> table = {
      MakeProgram(1, "news\n     666      0  6.6.6.6         6666   1  fake row\x1b[31m", "239.0.0.1", 1, 0, 0),
      MakeProgram(2, "\xD6\xD0\xCE\xC4", "239.0.0.2", 2, 0, 0),  // 中文 in GBK
      MakeProgram(3, "\xE4\xB8\xAD\xE6\x96\x87", "239.0.0.3", 3, 0, 0),
  };
  Station sender("127.0.0.1", Sections(table, 3));
  ASSERT_TRUE(sender.bound);

  const MonitorRun text = RunMonitor("--once --duration 5", {&sender});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
  const std::vector<std::string> rows = Lines(text.out);
  ASSERT_EQ(rows.size(), 5u) << text.out;  // the header, the column titles, three programs
  EXPECT_TRUE(rows[2].ends_with("  news\\x0A     666      0  6.6.6.6         6666   1  fake row\\x1B[31m")) << rows[2];
  EXPECT_TRUE(rows[3].ends_with("  \\xD6\\xD0\\xCE\\xC4")) << rows[3];
  EXPECT_TRUE(rows[4].ends_with("  \xE4\xB8\xAD\xE6\x96\x87")) << rows[4];

  const MonitorRun json = RunMonitor("--json --once --duration 5", {&sender});
  EXPECT_EQ(json.status, 0) << json.err;
  int py = -1;
  const std::vector<std::string> lines = Lines(ReadJson(json.out, &py));
  ASSERT_EQ(py, 0) << json.out;
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "list 127.0.0.1 3 [\"news\\n     666      0  6.6.6.6         6666   1  fake row\\u001b[31m\", "
            "\"\\u00d6\\u00d0\\u00ce\\u00c4\", \"\\u4e2d\\u6587\"] - d6d0cec4 -");
  EXPECT_EQ(lines[1], "end 127.0.0.1 passed");
}

// Told the head end's code page, the monitor prints the names as the boxes
// show them, and still marks the bytes that are no character of it.
TEST_F(MonitorProbe, NamesDecodedInTheCodePageItIsTold) {
  const std::vector<ProgramEntry> table = {
      MakeProgram(1, "\xD6\xD0\xD1\xEB\xB5\xE7\xCA\xD3\xCC\xA8", "239.0.0.1", 1, 0, 0),  // 中央电视台 in GBK
      MakeProgram(2,
                  "\xA2\xAB"
                  "x",
                  "239.0.0.2", 2, 0, 0),  // a pair GBK leaves empty
  };
  Station sender("127.0.0.1", Sections(table, 4));
  ASSERT_TRUE(sender.bound);

  const MonitorRun text = RunMonitor("--codepage GBK --once --duration 5", {&sender});
  EXPECT_EQ(text.status, 0) << text.err;
  const std::vector<std::string> rows = Lines(text.out);
  ASSERT_EQ(rows.size(), 4u) << text.out;
  EXPECT_TRUE(rows[2].ends_with("  中央电视台")) << rows[2];
  EXPECT_TRUE(rows[3].ends_with("  \\xA2\\xABx")) << rows[3];

  const MonitorRun json = RunMonitor("--json --once --duration 5 --codepage=cp936", {&sender});
  EXPECT_EQ(json.status, 0) << json.err;
  int py = -1;
  const std::vector<std::string> lines = Lines(ReadJson(json.out, &py));
  ASSERT_EQ(py, 0) << json.out;
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "list 127.0.0.1 4 [\"\\u4e2d\\u592e\\u7535\\u89c6\\u53f0\", \"\\u00a2\\u00abx\"] - a2ab78");

  const MonitorRun bad = RunMonitor("--codepage KLINGON", {});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "iptv-monitor: unknown code page 'KLINGON'\n");
}

}  // namespace
