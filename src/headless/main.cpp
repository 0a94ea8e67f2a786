// The head end without a window: loads config.txt, chooses the send
// interface, keeps the play list on the air and writes each cycle's log line
// to standard output. SIGHUP reloads the file as "Reload Config." does,
// except that a file it cannot take whole leaves the list on the air as it
// is; SIGUSR1 steps the version as "Force Update" does, SIGINT and SIGTERM
// stop the broadcast and exit 0 within the rest of one cycle.
#include <arpa/inet.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "broadcast/broadcast_loop.h"
#include "broadcast/log_queue.h"
#include "broadcast/sap_announcer.h"
#include "broadcast/udp_socket.h"
#include "editing/program_editor.h"
#include "headless/change_filter.h"
#include "headless/journal_log.h"
#include "headless/log_pacer.h"
#include "headless/runner_files.h"
#include "headless/send_reports.h"
#include "headless/service_notify.h"
#include "headless/status_server.h"
#include "iptv_version.h"
#include "storage/config_file.h"
#include "storage/interface_choice.h"
#include "text/code_page.h"
#include "text/string_printf.h"

namespace {

const char kUsage[] =
    "Usage: iptv-headless [OPTION]...\n"
    "Broadcast the program list of config.txt as the play list (MPEG-2 sections in\n"
    "188-byte transport packets on PID 0x0010) to 224.1.1.1:10001, without a window.\n"
    "\n"
    "  --config PATH      the program list to load (default: config.txt beside this\n"
    "                     executable); also --config=PATH, as for every value\n"
    "  --interface ADDR   send from the interface with this IPv4 address, or\n"
    "                     'Default' to let the system choose (default: the choice\n"
    "                     stored by the window, see README)\n"
    "  --changes-only     print the first log line and then only those that show a\n"
    "                     new version, a new number of sections, or a send that\n"
    "                     starts or stops failing (one line per cycle otherwise)\n"
    "  --check            read the file, print every message and a summary (programs,\n"
    "                     sections, bytes of the six sections used) and exit: 0 when\n"
    "                     the file is clean, 1 otherwise; nothing is sent or written\n"
    "  --state PATH       where the version on the air and a digest of its list are\n"
    "                     kept across restarts (default: onair in $STATE_DIRECTORY,\n"
    "                     else the config path with .onair appended)\n"
    "  --allow-incomplete start even when the file cannot be read in full, with what\n"
    "                     could be read (default: exit 1 with the reason)\n"
    "  --status-listen [ADDR:]PORT\n"
    "                     serve /status (JSON) and /metrics (Prometheus) over HTTP\n"
    "                     on this address: a bare port is on the loopback, *:PORT\n"
    "                     on every interface (default: no server)\n"
    "  --listen-back      receive the list on the air as a set-top box does, on\n"
    "                     the send interface: its figures join /status and\n"
    "                     /metrics, a second sender is told on standard error\n"
    "  --codepage NAME    the code page of the names and remarks (GBK, CP936, BIG5,\n"
    "                     UTF-8, ...; default: the locale's character set, UTF-8\n"
    "                     in the C locale); a text cut to 127 bytes keeps whole\n"
    "                     characters of it\n"
    "  --sap              announce every program on the air to PC players as a\n"
    "                     session (SAP/SDP on 224.2.127.254:9875) from the send\n"
    "                     interface: at once, on every change, then every five\n"
    "                     minutes or so; deleted at the stop\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Standard output: one line per broadcast cycle,\n"
    "  play list:update,section(VV):SECTIONS,ROTATION,len:BYTES,sent:SENT,\n"
    "Standard error: the file reader's messages and other notices, among them one\n"
    "line when sending starts to fail (with the system's reason) and one when it\n"
    "works again.\n"
    "\n"
    "Signals:\n"
    "  SIGHUP    reload the file (as the window's \"Reload Config.\"); the list goes\n"
    "            on the air under a version new to the receivers. A file that\n"
    "            cannot be read in full changes nothing: the reason is printed\n"
    "  SIGUSR1   step the play-list version (as \"Force Update\")\n"
    "  SIGINT, SIGTERM   stop the broadcast and exit 0\n"
    "\n"
    "The file is only read here, never written.\n"
    "\n"
    "Exit status: 0 after SIGINT or SIGTERM (or a clean --check); 1 when the file\n"
    "cannot be read in full at the start (or --check finds a problem), or the\n"
    "runner cannot go on (the signals cannot be taken or waited for); 2 on a bad\n"
    "option or address, or an address that no interface here has.\n";

// The shortest time between two batches of log lines while the loop
// writes one a cycle: a wake-up of the main thread costs about as much as a
// cycle's send, so a steady flow is written once a second.
constexpr int64_t kLogBatchMs = 1000;

// Long options without a short form take values past the character range.
enum : int {
  kOptConfig = 256,
  kOptInterface,
  kOptChangesOnly,
  kOptVersion,
  kOptCheck,
  kOptState,
  kOptAllowIncomplete,
  kOptStatusListen,
  kOptListenBack,
  kOptCodePage,
  kOptSap,
};

// One option a line: adding one is a line here and a case in main.
// clang-format off
const option kOptions[] = {{"config", required_argument, nullptr, kOptConfig},
                           {"interface", required_argument, nullptr, kOptInterface},
                           {"changes-only", no_argument, nullptr, kOptChangesOnly},
                           {"help", no_argument, nullptr, 'h'},
                           {"version", no_argument, nullptr, kOptVersion},
                           {"check", no_argument, nullptr, kOptCheck},
                           {"state", required_argument, nullptr, kOptState},
                           {"allow-incomplete", no_argument, nullptr, kOptAllowIncomplete},
                           {"status-listen", required_argument, nullptr, kOptStatusListen},
                           {"listen-back", no_argument, nullptr, kOptListenBack},
                           {"codepage", required_argument, nullptr, kOptCodePage},
                           {"sap", no_argument, nullptr, kOptSap},
                           {nullptr, 0, nullptr, 0}};
// clang-format on

const char* OptionName(int val) {
  for (const option& o : kOptions)
    if (o.name != nullptr && o.val == val) return o.name;
  return nullptr;
}

// A bad command line: the reason, the usage, status 2.
int BadUsage(const std::string& reason) {
  std::fprintf(stderr, "iptv-headless: %s\n\n%s", reason.c_str(), kUsage);
  return 2;
}

// The form of a runner without a window: the members' texts are kept, so the
// editor's exchange works, and nothing is shown.
class HeadlessForm : public FormView {
 public:
  std::string Text(FormField field) const override {
    auto it = m_texts.find(field);
    return it == m_texts.end() ? std::string() : it->second;
  }
  void SetText(FormField field, const std::string& text) override { m_texts[field] = text; }
  bool Checked(FormField field) const override { return m_texts.count(field) && m_texts.at(field) == "1"; }
  void SetChecked(FormField field, bool checked) override { m_texts[field] = checked ? "1" : "0"; }
  void FocusAndSelectAll(FormField) override {}
  bool HdChecked() const override { return false; }
  void SetHdChecked(bool) override {}
  bool AddressBlank() const override { return false; }
  uint32_t Address() const override { return 0xE0020201u; }
  void SetAddress(uint32_t) override {}
  void ShowRows(const std::vector<RowTexts>&) override {}

 private:
  std::map<FormField, std::string> m_texts;
};

class StderrPrompter : public Prompter {
 public:
  // Each line of a message on a line of its own, prefixed.
  void ShowMessage(const std::string& text, MessageIcon) override {
    size_t start = 0;
    do {
      const size_t end = text.find('\n', start);
      std::fprintf(LogTo(LogPriority::Warning), "iptv-headless: %s\n", text.substr(start, end - start).c_str());
      start = end == std::string::npos ? end : end + 1;
    } while (start != std::string::npos);
  }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    std::fprintf(LogTo(LogPriority::Warning), "iptv-headless: %s: %s (answered Cancel)\n", caption.c_str(),
                 text.c_str());
    return false;
  }
};

void WriteAll(const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    const ssize_t n = write(STDOUT_FILENO, s.data() + done, s.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a closed pipe: the broadcast goes on without its log
    }
    done += static_cast<size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string configPath;
  std::string interface;
  bool changesOnly = false;
  bool check = false;
  bool allowIncomplete = false;
  std::string statePath;
  std::string statusListen;
  bool listenBack = false;
  bool announce = false;
  opterr = 0;  // our own messages, each followed by the usage
  SetHeadEndCodePage(CodePage::FromLocale());
  for (int c; (c = getopt_long(argc, argv, ":h", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'h':
        std::fputs(kUsage, stdout);
        return 0;
      case kOptVersion:
        std::printf("iptv-headless %s\n", IPTV_VERSION);
        return 0;
      case kOptConfig:
        configPath = optarg;
        if (configPath.empty()) return BadUsage("--config needs a path");
        break;
      case kOptInterface:
        interface = optarg;
        if (interface.empty()) return BadUsage("--interface needs an IPv4 address or Default");
        break;
      case kOptChangesOnly:
        changesOnly = true;
        break;
      case kOptCheck:
        check = true;
        break;
      case kOptState:
        statePath = optarg;
        if (statePath.empty()) return BadUsage("--state needs a path");
        break;
      case kOptAllowIncomplete:
        allowIncomplete = true;
        break;
      case kOptListenBack:
        listenBack = true;
        break;
      case kOptSap:
        announce = true;
        break;
      case kOptStatusListen: {
        sockaddr_in unused{};
        std::string why;
        if (!ParseListenAddress(optarg, &unused, &why)) return BadUsage("--status-listen: " + why);
        statusListen = optarg;
        break;
      }
      case kOptCodePage:
        if (std::string why; !ApplyCodePageOption(optarg, &why)) return BadUsage(why);
        break;
      case ':':
        return BadUsage(StringPrintf("--%s needs a value", OptionName(optopt)));
      default:  // '?': unknown, or a value given to an option that takes none
        if (const char* name = OptionName(optopt)) return BadUsage(StringPrintf("--%s takes no value", name));
        if (optopt != 0) return BadUsage(StringPrintf("unknown option '-%c'", optopt));
        return BadUsage(StringPrintf("unknown option '%s'", argv[optind - 1]));
    }
  }
  if (optind < argc) return BadUsage(StringPrintf("unexpected argument '%s'", argv[optind]));
  if (configPath.empty()) configPath = ConfigPathBesideExecutable();
  if (check) {
    StderrPrompter messages;
    const CheckSummary summary = CheckConfig(configPath, messages);
    std::printf("%s\n", FormatCheckSummary(configPath, summary).c_str());
    return summary.clean ? 0 : 1;
  }
  if (statePath.empty()) statePath = DefaultAirStatePath(configPath);

  // The signals are taken from a signalfd by the main thread; blocked before
  // the broadcast thread starts, so it inherits the mask and never sees them.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGHUP, SIGUSR1, SIGINT, SIGTERM}) sigaddset(&signals, s);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int sigFd = signalfd(-1, &signals, SFD_CLOEXEC);
  if (sigFd < 0) {
    std::fprintf(LogTo(LogPriority::Error), "iptv-headless: cannot take signals: %s\n", std::strerror(errno));
    return 1;
  }

  if (interface.empty()) {
    CRegistryValue store;
    const InterfaceStartup startup = StartupInterfaceSelection(store);  // sets g_dwSendAddr
    if (!startup.notOffered.empty())
      std::fprintf(LogTo(LogPriority::Warning),
                   "iptv-headless: the stored send interface %s is not here; sending through Default\n",
                   startup.notOffered.c_str());
  } else if (interface == DEFAULT_INTERFACE_ITEM) {
    g_dwSendAddr = 0;
  } else {
    in_addr a{};
    if (inet_pton(AF_INET, interface.c_str(), &a) != 1) {
      std::fprintf(stderr, "iptv-headless: '%s' is not an IPv4 address or Default\n", interface.c_str());
      return 2;
    }
    if (!AddressOfThisMachine(a.s_addr)) {
      std::fprintf(stderr, "iptv-headless: no interface here has the address %s\n", interface.c_str());
      return 2;
    }
    g_dwSendAddr = a.s_addr;
  }

  HeadlessForm form;
  StderrPrompter prompter;
  ProgramEditor editor(form, prompter, configPath);
  RunnerStateFile state(statePath);
  editor.SetAirRecordStore(&state);
  editor.SetDefaults();
  const LoadOutcome start =
      editor.LoadAtStartup(allowIncomplete ? LoadPolicy::PublishWhatWasRead : LoadPolicy::PublishOnlyComplete);
  if (!start.published) {
    std::fprintf(LogTo(LogPriority::Error),
                 "iptv-headless: not started: %s; fix the file, or start with --allow-incomplete to broadcast what "
                 "could be read\n",
                 start.problem.empty() ? (configPath + " could not be read in full (see above)").c_str()
                                       : start.problem.c_str());
    return 1;
  }

  StatusServer statusServer(editor.m_nSendRate);
  if (std::string why; !statusListen.empty() && !statusServer.Start(statusListen, &why)) {
    std::fprintf(LogTo(LogPriority::Error), "iptv-headless: not started: --status-listen: %s\n", why.c_str());
    return 1;
  }
  if (std::string why; listenBack && !statusServer.StartListenBack(g_dwSendAddr, &why))
    std::fprintf(LogTo(LogPriority::Warning), "iptv-headless: listen-back not started: %s; the broadcast goes on\n",
                 why.c_str());

  UdpSocket socket;
  MonotonicPause pause;
  SystemClock clock;
  LogQueue lines;
  BroadcastLoop loop(socket, pause, clock, lines, editor.m_nSendRate);
  SendReportQueue sendReports;
  loop.SetSendReportSink(&sendReports);
  UdpSocket sapSocket;
  SapAnnouncer sap(sapSocket);
  editor.SetChangeHook([&loop, &sap] {
    loop.Wake();
    sap.ListChanged();
  });
  loop.Start(g_dwSendAddr);
  if (announce) sap.Start(g_dwSendAddr);
  // Under systemd: ready once the first packet went out, status, watchdog.
  NotifySocket notify = NotifySocket::FromEnvironment();
  ServiceReport service(WatchdogIntervalMs());

  ChangeFilter filter;
  // Log lines in batches (see LogPacer); the batch and the text keep their
  // room from one batch to the next.
  const int wakeFd = lines.WakeFd();
  LogPacer pacer(kLogBatchMs, WatchdogIntervalMs(), wakeFd >= 0, lines.Capacity());
  std::vector<LogQueue::Entry> batch;
  std::string out;
  auto flush = [&](bool byLine) {
    const int64_t now = MonotonicMs();
    bool arm = pacer.Arm(now, byLine);
    if (!lines.Take(batch, arm) && !arm) {
      arm = true;  // nothing came during the batch period: sleep until a line does
      lines.Take(batch, true);
    }
    pacer.Took(now, arm, batch.size());
    out.clear();
    statusServer.Take(batch);
    for (const LogQueue::Entry& e : batch) {
      service.Cycle(e.fields, now);
      if (!changesOnly || filter.Keep(e.fields)) out += e.line;
    }
    if (!out.empty()) WriteAll(out);
    const std::string reports = sendReports.TakeText("iptv-headless");
    for (size_t from = 0; from < reports.size();) {
      const size_t end = std::min(reports.find('\n', from), reports.size());
      std::fprintf(LogTo(LogPriority::Warning), "%s\n", reports.substr(from, end - from).c_str());
      from = end + 1;
    }
    notify.Send(service.Poll(now, static_cast<int>(editor.Rows().size()), editor.m_nSendRate.load()));
  };

  int status = 0;
  bool running = true;
  while (running) {
    // Signals at once; log lines as LogPacer says.
    pollfd fds[2] = {{sigFd, POLLIN, 0}, {pacer.Watching() ? wakeFd : -1, POLLIN, 0}};
    const int ready = poll(fds, 2, pacer.TimeoutMs(MonotonicMs()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      // The runner can no longer be stopped by its signals: end the
      // broadcast and say so, with a status a supervisor reads as a failure.
      std::fprintf(LogTo(LogPriority::Error), "iptv-headless: waiting for signals failed: %s\n", std::strerror(errno));
      status = 1;
      break;
    }
    const bool byLine = ready > 0 && (fds[1].revents & POLLIN) != 0;
    if (byLine) lines.ClearWake();
    flush(byLine);
    if (ready > 0 && (fds[0].revents & (POLLERR | POLLNVAL)) != 0) {
      // Polling a broken descriptor would spin for ever without a signal.
      std::fprintf(stderr, "iptv-headless: the signals can no longer be read\n");
      status = 1;
      break;
    }
    if (ready > 0 && (fds[0].revents & POLLIN)) {
      signalfd_siginfo info{};
      const ssize_t got = read(sigFd, &info, sizeof info);
      if (got < 0 && errno != EINTR && errno != EAGAIN) {
        std::fprintf(stderr, "iptv-headless: reading a signal failed: %s\n", std::strerror(errno));
        status = 1;
        break;
      }
      if (got != sizeof info) continue;
      switch (info.ssi_signo) {
        case SIGHUP: {
          const LoadOutcome reload = editor.ReloadConfig(LoadPolicy::PublishOnlyComplete);
          if (!reload.published) {
            service.Failure("reload refused");
            std::fprintf(LogTo(LogPriority::Warning),
                         "iptv-headless: reload refused: %s; the list on the air stays as it was (%d programs)\n",
                         reload.problem.empty() ? (configPath + " could not be read in full (see above)").c_str()
                                                : reload.problem.c_str(),
                         static_cast<int>(editor.Rows().size()));
          } else {
            std::fprintf(LogTo(LogPriority::Notice), "iptv-headless: reloaded %s: %d programs\n", configPath.c_str(),
                         static_cast<int>(editor.Rows().size()));
          }
          break;
        }
        case SIGUSR1:
          editor.OnForceUpdate();
          break;
        default:
          running = false;
      }
    }
  }
  notify.Send("STOPPING=1");
  sap.Stop();
  loop.Stop();
  flush(false);
  if (lines.Dropped() != 0)
    std::fprintf(LogTo(LogPriority::Warning),
                 "iptv-headless: %llu log lines dropped while standard output was blocked\n",
                 static_cast<unsigned long long>(lines.Dropped()));
  close(sigFd);
  return status;
}
