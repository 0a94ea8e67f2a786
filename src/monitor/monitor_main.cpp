// iptv-monitor: a receiver that does what a set-top box does with the play
// list, for operators and tests. See Usage() for everything it can do.
#include <arpa/inet.h>
#include <getopt.h>
#include <signal.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "iptv_version.h"
#include "monitor/monitor_metrics.h"
#include "monitor/play_list_monitor.h"
#include "monitor/receive_socket.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop.store(true); }

constexpr int kExpectSource = 0x100;  // long options only
constexpr int kMetricsListen = 0x101;
constexpr int kCodePage = 0x102;

void Usage(FILE* f) {
  std::fputs(
      "Usage: iptv-monitor [OPTION]...\n"
      "Joins the play-list group 224.1.1.1, port 10001, takes the transport packets\n"
      "of PID 0x0010 (one per datagram), reassembles the sections (payload unit\n"
      "start, pointer field, stuffing), checks the continuity counter and every\n"
      "CRC-32/MPEG-2, decodes the header, the time descriptor and each program\n"
      "entry, and prints the play list whenever a complete set of sections of a\n"
      "new version has arrived. Bad packets and sections are counted, never fatal.\n"
      "Each source address is a sender of its own: a list is never assembled from\n"
      "the packets or sections of two sources, a second source is reported on\n"
      "standard error, and so is a conflict (a section sent again under its\n"
      "version and number with other programs; that version is collected again).\n"
      "\n"
      "  -i, --interface ADDR  join on the interface with this IPv4 address\n"
      "                        (default: any, the system's choice)\n"
      "      --expect-source ADDR\n"
      "                        the address the play list is sent from: only its\n"
      "                        datagrams are decoded; any other source is counted,\n"
      "                        reported and fails the checks\n"
      "  -1, --once            stop after the first complete play list\n"
      "  -t, --duration SEC    stop after SEC seconds (fractions allowed; inf, or a\n"
      "                        century or more, is no deadline)\n"
      "  -j, --json            print each play list as one line of JSON, and the\n"
      "                        counters at the end as a JSON object\n"
      "  -q, --quiet           do not print the play lists (counters only)\n"
      "  -s, --stats           at the end also print the spacing between packet\n"
      "                        arrivals: median, p10 and p90, within a section and\n"
      "                        over all packets\n"
      "  -T, --timestamps      print each packet's arrival time (monotonic clock,\n"
      "                        seconds), continuity counter, unit start flag and\n"
      "                        source address\n"
      "      --metrics-listen [ADDR:]PORT\n"
      "                        serve the counters as /metrics (Prometheus text)\n"
      "                        over HTTP: a bare port is on the loopback, *:PORT\n"
      "                        on every interface (default: no server)\n"
      "      --codepage NAME   the code page the names are sent in (GBK, CP936, BIG5,\n"
      "                        UTF-8, ...; default: the locale's character set,\n"
      "                        UTF-8 in the C locale); they are printed as UTF-8\n"
      "  -h, --help            show this text and exit\n"
      "  -V, --version         show the version and exit\n"
      "\n"
      "At the end (after --once, --duration, SIGINT or SIGTERM) the counters go to\n"
      "standard error (standard output with --json): datagrams, packets, sections,\n"
      "complete play lists, CRC errors, continuity errors, malformed sections,\n"
      "dropped (incomplete) sections, duplicates, datagrams of a wrong size, sync\n"
      "errors, transport errors, packets of other PIDs, the versions seen, conflicts,\n"
      "and every source seen with its datagrams and lists.\n"
      "Names are printed safely: in the table, control bytes and bytes that are not\n"
      "a character of the code page as \\xNN and a backslash as \\\\; in JSON, such a\n"
      "byte as \\u00NN (read as ISO 8859-1), with the exact bytes in \"name_hex\".\n"
      "\n"
      "Checks, for a health probe: no CRC error, no continuity error, one source\n"
      "(the expected one when --expect-source is given), and at least one complete\n"
      "play list (from it) before the end. Each failed check is named on standard\n"
      "error (and under \"checks\" with --json).\n"
      "\n"
      "Exit status: 0 when every check passed; 1 when a check failed (so also when\n"
      "--once ends at --duration without a list); 2 on a bad option, when the\n"
      "group cannot be joined, or when receiving fails.\n",
      f);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t iface = 0;
  std::optional<uint32_t> expectSource;
  bool once = false, json = false, quiet = false, stats = false, stamps = false;
  double duration = -1;
  std::string metricsListen;
  // One option a line: adding one is a one-line change.
  // clang-format off
  static const option kOptions[] = {{"interface", required_argument, nullptr, 'i'},
                                    {"once", no_argument, nullptr, '1'},
                                    {"duration", required_argument, nullptr, 't'},
                                    {"json", no_argument, nullptr, 'j'},
                                    {"quiet", no_argument, nullptr, 'q'},
                                    {"stats", no_argument, nullptr, 's'},
                                    {"timestamps", no_argument, nullptr, 'T'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"expect-source", required_argument, nullptr, kExpectSource},
                                    {"version", no_argument, nullptr, 'V'},
                                    {"metrics-listen", required_argument, nullptr, kMetricsListen},
                                    {"codepage", required_argument, nullptr, kCodePage},
                                    {nullptr, 0, nullptr, 0}};
  // clang-format on
  SetHeadEndCodePage(CodePage::FromLocale());
  for (int c; (c = getopt_long(argc, argv, "i:1t:jqsThV", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'i': {
        in_addr a{};
        if (inet_pton(AF_INET, optarg, &a) != 1) {
          std::fprintf(stderr, "iptv-monitor: not an IPv4 address: %s\n", optarg);
          return 2;
        }
        iface = a.s_addr;
        break;
      }
      case kExpectSource: {
        in_addr a{};
        if (inet_pton(AF_INET, optarg, &a) != 1) {
          std::fprintf(stderr, "iptv-monitor: not an IPv4 address: %s\n", optarg);
          return 2;
        }
        expectSource = a.s_addr;
        break;
      }
      case kMetricsListen: {
        sockaddr_in unused{};
        std::string why;
        if (!ParseListenAddress(optarg, &unused, &why)) {
          std::fprintf(stderr, "iptv-monitor: --metrics-listen: %s\n", why.c_str());
          return 2;
        }
        metricsListen = optarg;
        break;
      }
      case kCodePage:
        if (!ApplyCodePageOption("iptv-monitor", optarg)) return 2;
        break;
      case '1':
        once = true;
        break;
      case 't': {
        char* end = nullptr;
        duration = std::strtod(optarg, &end);
        if (end == optarg || *end != '\0' || !(duration >= 0)) {
          std::fprintf(stderr, "iptv-monitor: not a number of seconds: %s\n", optarg);
          return 2;
        }
        break;
      }
      case 'j':
        json = true;
        break;
      case 'q':
        quiet = true;
        break;
      case 's':
        stats = true;
        break;
      case 'T':
        stamps = true;
        break;
      case 'h':
        Usage(stdout);
        return 0;
      case 'V':
        std::printf("iptv-monitor %s\n", IPTV_VERSION);
        return 0;
      default:
        Usage(stderr);
        return 2;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "iptv-monitor: unexpected argument: %s\n", argv[optind]);
    return 2;
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;  // no SA_RESTART: the wait returns at once
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  ReceiveSocket socket;
  std::string error;
  if (!socket.Open(iface, &error)) {
    std::fprintf(stderr, "iptv-monitor: %s\n", error.c_str());
    return 2;
  }

  bool gotList = false;
  PlayListMonitor monitor(
      [&](const PlayList& list) {
        gotList = true;
        if (!quiet) {
          const std::string text = json ? FormatPlayListJson(list) : FormatPlayListTable(list);
          std::fwrite(text.data(), 1, text.size(), stdout);
          std::fflush(stdout);
        }
      },
      [](const MonitorEvent& e) {
        const std::string text = FormatEventText(e);
        if (!text.empty()) std::fprintf(stderr, "iptv-monitor: %s\n", text.c_str());
      });
  monitor.KeepArrivals(stats);
  if (expectSource) monitor.ExpectSource(*expectSource);
  MonitorMetricsServer metrics;
  if (std::string why; !metricsListen.empty() && !metrics.Start(metricsListen, &why)) {
    std::fprintf(stderr, "iptv-monitor: --metrics-listen: %s\n", why.c_str());
    return 2;
  }

  const int64_t start = MonotonicNs();
  // A span longer than any run (inf, 1e300) is no deadline; the cap also
  // keeps the nanoseconds well inside int64_t.
  constexpr double kNoDeadlineSeconds = 100.0 * 365 * 24 * 3600;
  const int64_t deadline =
      duration >= 0 && duration < kNoDeadlineSeconds ? start + static_cast<int64_t>(duration * 1e9) : INT64_MAX;
  uint8_t buf[2048];
  bool receiveFailed = false;
  while (!g_stop.load() && !(once && gotList)) {
    const int64_t now = MonotonicNs();
    if (now >= deadline) break;
    metrics.Publish(monitor, now);
    const int64_t leftMs = (deadline - now + 999'999) / 1'000'000;
    const int timeout = deadline == INT64_MAX ? 200 : static_cast<int>(leftMs < 200 ? leftMs : 200);
    size_t got = 0;
    int64_t arrival = 0;
    uint32_t source = 0;
    const int r = socket.Receive(buf, sizeof buf, timeout, &got, &arrival, &source);
    if (r < 0) {
      std::fprintf(stderr, "iptv-monitor: receive: %s\n", std::strerror(errno));
      receiveFailed = true;
      break;
    }
    if (r == 0) continue;
    const size_t size = got < sizeof buf ? got : sizeof buf;  // an oversized one stays a wrong size
    monitor.Feed(buf, size, arrival, source);
    if (stamps && size >= 4 && !json)
      std::printf("%.6f cc=%u pusi=%u len=%zu src=%s\n", static_cast<double>(arrival) / 1e9, buf[3] & 0x0Fu,
                  (buf[1] >> 6) & 1u, got, FormatSourceAddress(source).c_str());
  }

  const MonitorCounters c = monitor.Counters();
  const std::vector<CheckFailure> failed = FailedChecks(c);
  if (json) {
    std::string out = "{\"counters\":" + FormatCountersJson(c);
    out += std::string(",\"checks\":{\"passed\":") + (failed.empty() ? "true" : "false") + ",\"failed\":[";
    for (size_t i = 0; i < failed.size(); ++i) {
      out += std::string(i ? "," : "") + "{\"check\":\"" + failed[i].key + "\",\"message\":";
      AppendJsonString(out, failed[i].message);
      out += "}";
    }
    out += "]}";
    if (stats) {
      auto sp = [](const Spacing& s) {
        char b[160];
        std::snprintf(b, sizeof b, "{\"count\":%zu,\"median_us\":%.1f,\"p10_us\":%.1f,\"p90_us\":%.1f}", s.count,
                      s.median, s.p10, s.p90);
        return std::string(b);
      };
      out +=
          ",\"spacing_within_section\":" + sp(monitor.WithinSection()) + ",\"spacing_all\":" + sp(monitor.AllPackets());
    }
    out += "}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
  } else {
    std::string out = FormatCountersText(c);
    if (stats) {
      out += FormatSpacingText("spacing within a section", monitor.WithinSection());
      out += FormatSpacingText("spacing of all packets", monitor.AllPackets());
    }
    std::fflush(stdout);
    std::fwrite(out.data(), 1, out.size(), stderr);
  }
  std::fflush(stdout);
  for (const CheckFailure& f : failed) std::fprintf(stderr, "iptv-monitor: check failed: %s\n", f.message.c_str());
  if (receiveFailed) return 2;
  return failed.empty() ? 0 : 1;
}
