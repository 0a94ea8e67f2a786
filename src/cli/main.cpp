// iptv-list: edits a config.txt from scripts, with the window's rules and
// messages. Every command runs the window's own command on a form made of
// plain values: the file is loaded as the window loads it, the fields the
// command line names are typed into the form, and the command's handler
// runs. Messages go to standard error exactly as the window's boxes say
// them; a question is answered OK only with --yes.
#include <arpa/inet.h>
#include <getopt.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "editing/list_exchange.h"
#include "editing/program_editor.h"
#include "editing/value_form.h"
#include "headless/runner_files.h"
#include "iptv_version.h"
#include "storage/config_file.h"
#include "text/code_page.h"
#include "text/string_printf.h"

extern char** environ;

namespace {

const char kUsage[] =
    "Usage: iptv-list [OPTION]... COMMAND [ARG]...\n"
    "Edit the program list of config.txt from scripts, with the rules and messages\n"
    "of the window's commands.\n"
    "\n"
    "Commands:\n"
    "  show [--json]              print the list and its settings\n"
    "  add [FIELD]...             add a program (the window's \"Add\")\n"
    "  modify ADDR PORT [FIELD]...  change the first program at ADDR:PORT, as a\n"
    "                             click on its row and \"Modify\" do\n"
    "  delete ADDR PORT           delete the first program at ADDR:PORT (\"Delete\")\n"
    "  import FILE [--format csv|m3u]   add the programs of a CSV or M3U file\n"
    "  export FILE [--format csv|m3u]   write the list as CSV or M3U ('-': standard\n"
    "                             output); the format follows FILE's extension\n"
    "  check                      read the file and report, as iptv-headless --check\n"
    "  set [--send-rate MS] [--order-by-number on|off]\n"
    "\n"
    "Fields (a field not given keeps the value the window's form would hold: the\n"
    "clicked row's for modify; for add number 0, name \"Name\", 224.2.2.1, port\n"
    "10001, no remark, group 0, not HD):\n"
    "  --number N  --name TEXT  --multicast ADDR  --port N  --remark TEXT\n"
    "  --group N  --hd  --no-hd\n"
    "\n"
    "Options:\n"
    "  --config PATH          the file to edit (default: config.txt beside the\n"
    "                         runner, as iptv-headless reads it)\n"
    "  --yes                  answer OK to the window's questions (default Cancel)\n"
    "  --reload-pid PIDFILE   after a change, send SIGHUP to the runner whose pid\n"
    "                         PIDFILE holds, so it puts the new list on the air\n"
    "  --reload-service NAME  after a change, run 'systemctl reload NAME'\n"
    "  --codepage NAME        the head end's code page of the names and remarks in\n"
    "                         the file (GBK, CP936, BIG5, UTF-8, ...; default: the\n"
    "                         locale's character set); the command line and the\n"
    "                         table are in the locale's, JSON and files in UTF-8\n"
    "  --help, --version\n"
    "\n"
    "Saves are atomic; a file that was not loaded in full is kept beside it before\n"
    "the first save. Exit status: 0 on success; 1 when the command was refused or\n"
    "failed (its message is on standard error); 2 on a bad command line; 3 when an\n"
    "import took only the rows that passed (with --yes).\n";

enum : int {
  kOptConfig = 256,
  kOptYes,
  kOptReloadPid,
  kOptReloadService,
  kOptVersion,
  kOptJson,
  kOptFormat,
  kOptNumber,
  kOptName,
  kOptMulticast,
  kOptPort,
  kOptRemark,
  kOptGroup,
  kOptHd,
  kOptNoHd,
  kOptSendRate,
  kOptOrder,
  kOptCodePage,
};

// clang-format off
const option kGlobalOptions[] = {{"config", required_argument, nullptr, kOptConfig},
                                 {"yes", no_argument, nullptr, kOptYes},
                                 {"reload-pid", required_argument, nullptr, kOptReloadPid},
                                 {"reload-service", required_argument, nullptr, kOptReloadService},
                                 {"codepage", required_argument, nullptr, kOptCodePage},
                                 {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, kOptVersion},
                                 {nullptr, 0, nullptr, 0}};
const option kCommandOptions[] = {{"json", no_argument, nullptr, kOptJson},
                                  {"format", required_argument, nullptr, kOptFormat},
                                  {"number", required_argument, nullptr, kOptNumber},
                                  {"name", required_argument, nullptr, kOptName},
                                  {"multicast", required_argument, nullptr, kOptMulticast},
                                  {"port", required_argument, nullptr, kOptPort},
                                  {"remark", required_argument, nullptr, kOptRemark},
                                  {"group", required_argument, nullptr, kOptGroup},
                                  {"hd", no_argument, nullptr, kOptHd},
                                  {"no-hd", no_argument, nullptr, kOptNoHd},
                                  {"send-rate", required_argument, nullptr, kOptSendRate},
                                  {"order-by-number", required_argument, nullptr, kOptOrder},
                                  {nullptr, 0, nullptr, 0}};
// clang-format on

constexpr int kRefused = 1;
constexpr int kBadUsage = 2;
constexpr int kPartly = 3;

int BadUsage(const std::string& reason) {
  std::fprintf(stderr, "iptv-list: %s\n\n%s", reason.c_str(), kUsage);
  return kBadUsage;
}

// The window's boxes, on standard error: the text as the box shows it.
class StderrPrompter : public Prompter {
 public:
  explicit StderrPrompter(bool yes) : m_yes(yes) {}
  void ShowMessage(const std::string& text, MessageIcon) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "%s: %s\n%s\n", caption.c_str(), text.c_str(),
                 m_yes ? "(answered OK: --yes)" : "(answered Cancel; --yes answers OK)");
    return m_yes;
  }

 private:
  bool m_yes;
};

// Counts the list's refreshes: each command that went through ends in one.
class ScriptForm : public ValueForm {
 public:
  void ShowRows(const std::vector<RowTexts>& rows) override {
    ++refreshes;
    ValueForm::ShowRows(rows);
  }
  int refreshes = 0;
};

// The fields the command line typed into the form.
struct Fields {
  std::optional<std::string> number, name, multicast, port, remark, group, sendRate;
  std::optional<bool> hd, order;
  std::optional<std::string> format;
  bool json = false;
  std::vector<std::string> args;
};

// The terminal's texts (arguments, the table) are in the locale's character
// set; the list's are in the head end's code page. They differ only when
// --codepage names another one.
const CodePage& Terminal() {
  static const CodePage terminal = CodePage::FromLocale();
  return terminal;
}

std::optional<std::string> FromTerminal(const std::string& text) {
  const CodePage& headEnd = HeadEndCodePage();
  if (headEnd == Terminal()) return text;
  return headEnd.FromUtf8(Terminal().IsUtf8() ? text : Terminal().ToUtf8(text));
}

std::string ToTerminal(const std::string& text) {
  const CodePage& headEnd = HeadEndCodePage();
  if (headEnd == Terminal()) return text;
  const std::string utf8 = headEnd.ToUtf8(text);
  return Terminal().IsUtf8() ? utf8 : Terminal().FromUtf8Lossy(utf8);
}

// JSON is UTF-8 whatever the code page.
std::string ToUtf8(const std::string& text) {
  const CodePage& headEnd = HeadEndCodePage();
  return headEnd.IsUtf8() ? text : headEnd.ToUtf8(text);
}

std::optional<uint32_t> ParseAddress(const std::string& text) {
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return std::nullopt;
  return ntohl(a.s_addr);
}

// Puts the fields into the form as the operator would type them. A number
// the form refuses stops here with the form's prompt: the window would go
// on with the old value, which a script never means.
bool TypeFields(const Fields& f, ScriptForm& form, Prompter& prompter) {
  const std::pair<const std::optional<std::string>*, FormField> numbers[] = {{&f.port, FormField::Port},
                                                                             {&f.number, FormField::Number},
                                                                             {&f.sendRate, FormField::SendRate},
                                                                             {&f.group, FormField::Group}};
  for (const auto& [text, field] : numbers) {
    if (!*text) continue;
    if (!ParseFormNumber(**text)) {
      prompter.ShowMessage("“请填入一个正整数。”", MessageIcon::Exclamation);
      return false;
    }
    form.SetText(field, **text);
  }
  const std::pair<const std::optional<std::string>*, FormField> texts[] = {{&f.name, FormField::Name},
                                                                           {&f.remark, FormField::Note}};
  for (const auto& [text, field] : texts) {
    if (!*text) continue;
    const std::optional<std::string> converted = FromTerminal(**text);
    if (!converted) {
      prompter.ShowMessage(StringPrintf("%s '%s' holds a character that code page %s has no place for",
                                        field == FormField::Name ? "Name" : "Remark", (*text)->c_str(),
                                        HeadEndCodePage().Name().c_str()));
      return false;
    }
    form.SetText(field, *converted);
  }
  if (f.hd) form.SetHdChecked(*f.hd);
  if (f.order) form.SetChecked(FormField::OrderByNumber, *f.order);
  if (f.multicast) {
    if (f.multicast->empty()) {
      form.SetAddressOrBlank(std::nullopt);
    } else if (const auto address = ParseAddress(*f.multicast)) {
      form.SetAddressOrBlank(*address);
    } else {
      prompter.ShowMessage(StringPrintf("Multicast '%s' is not an IPv4 address", f.multicast->c_str()));
      return false;
    }
  }
  return true;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      out += StringPrintf("\\u%04x", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + '"';
}

void Show(const ProgramEditor& editor, const std::string& path, bool json) {
  const auto& rows = editor.Rows();
  if (json) {
    std::string out =
        "{\"config\":" + JsonString(path) +
        StringPrintf(",\"sendRate\":%u,\"orderByNumber\":%s,\"version\":%u,\"programs\":[", editor.m_nSendRate.load(),
                     editor.m_bOrderByNumber ? "true" : "false", static_cast<unsigned>(g_nVersion.load()));
    for (size_t i = 0; i < rows.size(); ++i) {
      const RowTexts& r = rows[i];
      out += StringPrintf(
          "%s{\"number\":%d,\"name\":%s,\"multicast\":%s,\"port\":%d,\"remark\":%s,\"group\":%d,"
          "\"hd\":%s}",
          i ? "," : "", SaturatingAtoi(r[1].c_str()), JsonString(ToUtf8(r[2])).c_str(), JsonString(r[3]).c_str(),
          SaturatingAtoi(r[4].c_str()), JsonString(ToUtf8(r[5])).c_str(), SaturatingAtoi(r[6].c_str()),
          SaturatingAtoi(r[7].c_str()) > 0 ? "true" : "false");
    }
    std::printf("%s]}\n", out.c_str());
    return;
  }
  std::printf("%s: send rate %u ms, order by number %s, version %u, %zu programs\n", path.c_str(),
              editor.m_nSendRate.load(), editor.m_bOrderByNumber ? "on" : "off",
              static_cast<unsigned>(g_nVersion.load()), rows.size());
  std::vector<RowTexts> table;
  table.push_back({"NO.", "Number", "Name", "Multicast", "Port", "Remark", "Group", "is HD"});
  for (const RowTexts& r : rows) {
    RowTexts shown = r;
    shown[2] = ToTerminal(r[2]);
    shown[5] = ToTerminal(r[5]);
    table.push_back(std::move(shown));
  }
  size_t width[PROGRAM_LIST_COLUMNS] = {};
  for (const RowTexts& r : table)
    for (size_t c = 0; c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
  for (const RowTexts& r : table) {
    std::string line;
    for (size_t c = 0; c < r.size(); ++c) {
      line += r[c];
      if (c + 1 < r.size()) line += std::string(width[c] - r[c].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

// The first row at the program key, as Delete finds it: the address in its
// standard form and the port.
int FindRow(const ProgramEditor& editor, uint32_t address, const std::string& port) {
  const std::string text =
      StringPrintf("%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
  const auto value = ParseFormNumber(port);
  for (size_t i = 0; i < editor.Rows().size(); ++i) {
    const RowTexts& r = editor.Rows()[i];
    if (value && r[3] == text && r[4] == std::to_string(static_cast<int32_t>(*value))) return static_cast<int>(i);
  }
  return -1;
}

// Tells a running runner to load the file again.
bool Reload(const std::string& pidFile, const std::string& service) {
  if (!pidFile.empty()) {
    std::ifstream in(pidFile);
    long pid = 0;
    if (!(in >> pid) || pid <= 1) {
      std::fprintf(stderr, "iptv-list: %s holds no process id; the runner was not told to reload\n", pidFile.c_str());
      return false;
    }
    if (kill(static_cast<pid_t>(pid), SIGHUP) != 0) {
      std::fprintf(stderr, "iptv-list: cannot signal process %ld (from %s): %s; the runner was not told to reload\n",
                   pid, pidFile.c_str(), std::strerror(errno));
      return false;
    }
  }
  if (!service.empty()) {
    std::string name = service;
    char* argv[] = {const_cast<char*>("systemctl"), const_cast<char*>("reload"), name.data(), nullptr};
    pid_t child = 0;
    int status = 0;
    const int err = posix_spawnp(&child, "systemctl", nullptr, nullptr, argv, environ);
    if (err != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "iptv-list: 'systemctl reload %s' failed%s%s; the runner was not told to reload\n",
                   service.c_str(), err ? ": " : "", err ? std::strerror(err) : "");
      return false;
    }
  }
  return true;
}

int ParseCommandOptions(int argc, char** argv, Fields& f) {
  optind = 0;  // start a new scan (glibc)
  opterr = 0;
  for (;;) {
    const int c = getopt_long(argc, argv, "+:", kCommandOptions, nullptr);
    if (c == -1) {
      // Arguments may stand between options; after "--" all are arguments.
      if (optind >= argc) break;
      if (std::strcmp(argv[optind - 1], "--") == 0) {
        for (; optind < argc; ++optind) f.args.push_back(argv[optind]);
        break;
      }
      f.args.push_back(argv[optind++]);
      continue;
    }
    switch (c) {
      case kOptJson:
        f.json = true;
        break;
      case kOptFormat:
        f.format = optarg;
        break;
      case kOptNumber:
        f.number = optarg;
        break;
      case kOptName:
        f.name = optarg;
        break;
      case kOptMulticast:
        f.multicast = optarg;
        break;
      case kOptPort:
        f.port = optarg;
        break;
      case kOptRemark:
        f.remark = optarg;
        break;
      case kOptGroup:
        f.group = optarg;
        break;
      case kOptHd:
        f.hd = true;
        break;
      case kOptNoHd:
        f.hd = false;
        break;
      case kOptSendRate:
        f.sendRate = optarg;
        break;
      case kOptOrder:
        if (std::strcmp(optarg, "on") == 0 || std::strcmp(optarg, "1") == 0) {
          f.order = true;
        } else if (std::strcmp(optarg, "off") == 0 || std::strcmp(optarg, "0") == 0) {
          f.order = false;
        } else {
          return BadUsage("--order-by-number takes on or off");
        }
        break;
      case ':':
        return BadUsage(StringPrintf("%s needs a value", argv[optind - 1]));
      default:
        return BadUsage(StringPrintf("unknown option '%s'", argv[optind - 1]));
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string configPath, pidFile, service;
  bool yes = false;
  opterr = 0;
  SetHeadEndCodePage(CodePage::FromLocale());
  // '+': the options before the command; the command's own follow it.
  for (int c; (c = getopt_long(argc, argv, "+:h", kGlobalOptions, nullptr)) != -1;) {
    switch (c) {
      case 'h':
        std::fputs(kUsage, stdout);
        return 0;
      case kOptVersion:
        std::printf("iptv-list %s\n", IPTV_VERSION);
        return 0;
      case kOptConfig:
        configPath = optarg;
        if (configPath.empty()) return BadUsage("--config needs a path");
        break;
      case kOptYes:
        yes = true;
        break;
      case kOptReloadPid:
        pidFile = optarg;
        break;
      case kOptReloadService:
        service = optarg;
        break;
      case kOptCodePage:
        if (!ApplyCodePageOption("iptv-list", optarg)) return kBadUsage;
        break;
      case ':':
        return BadUsage(StringPrintf("%s needs a value", argv[optind - 1]));
      default:
        return BadUsage(StringPrintf("unknown option '%s'", argv[optind - 1]));
    }
  }
  if (optind >= argc) return BadUsage("a command is needed");
  const std::string command = argv[optind];
  Fields f;
  if (const int bad = ParseCommandOptions(argc - optind, argv + optind, f)) return bad;
  if (configPath.empty()) configPath = ConfigPathBesideExecutable();

  auto expectArgs = [&](size_t n, const char* what) {
    return f.args.size() == n ? 0 : BadUsage(StringPrintf("%s takes %s", command.c_str(), what));
  };
  std::optional<ListFormat> format;
  if (f.format) {
    if (*f.format == "csv")
      format = ListFormat::Csv;
    else if (*f.format == "m3u")
      format = ListFormat::M3u;
    else
      return BadUsage("--format takes csv or m3u");
  }

  StderrPrompter prompter(yes);
  if (command == "check") {
    if (const int bad = expectArgs(0, "no arguments")) return bad;
    const CheckSummary summary = CheckConfig(configPath, prompter);
    std::printf("%s\n", FormatCheckSummary(configPath, summary).c_str());
    return summary.clean ? 0 : kRefused;
  }

  // The window's start: its form, then the file loaded into the list.
  ScriptForm form;
  ProgramEditor editor(form, prompter, configPath);
  editor.SetDefaults();
  editor.LoadAtStartup(LoadPolicy::PublishWhatWasRead);
  if (access(configPath.c_str(), F_OK) != 0 && command != "add" && command != "import" && command != "set") {
    // The window takes a missing file as an empty list, and so does this;
    // but a script asking about it most likely named the wrong file.
    std::fprintf(stderr, "iptv-list: %s: %s; the list is empty\n", configPath.c_str(), std::strerror(errno));
  }
  const int refreshesBefore = form.refreshes;
  bool changed = false;
  int status = 0;

  if (command == "show") {
    if (const int bad = expectArgs(0, "no arguments")) return bad;
    Show(editor, configPath, f.json);
    return 0;
  } else if (command == "export") {
    if (const int bad = expectArgs(1, "one file")) return bad;
    const std::string& out = f.args[0];
    const ListFormat chosen = format ? *format : ListFormatForPath(out);
    if (out == "-") {
      const std::string data = ExportList(editor.Rows(), chosen);
      return std::fwrite(data.data(), 1, data.size(), stdout) == data.size() && std::fflush(stdout) == 0 ? 0 : kRefused;
    }
    const SaveResult saved = ExportListToFile(editor.Rows(), out, chosen);
    if (!saved.ok) {
      prompter.ShowMessage("Cannot export " + saved.error, MessageIcon::Exclamation);
      return kRefused;
    }
    return 0;
  } else if (command == "import") {
    if (const int bad = expectArgs(1, "one file")) return bad;
    const ImportResult result =
        ImportList(editor, prompter, f.args[0], format ? *format : ListFormatForPath(f.args[0]));
    changed = result.imported > 0;
    if (result.outcome == ImportResult::NotImported || (changed && !result.saved)) {
      status = kRefused;
    } else if (result.outcome == ImportResult::Partly) {
      status = kPartly;
    }
  } else if (command == "add" || command == "set") {
    if (const int bad = expectArgs(0, "no arguments besides its fields")) return bad;
    if (!TypeFields(f, form, prompter)) return kRefused;
    if (command == "add") {
      editor.OnAdd();
    } else {
      editor.OnOrderOrRateChange();
    }
  } else if (command == "modify" || command == "delete") {
    if (const int bad = expectArgs(2, "the program's address and port")) return bad;
    Fields key = f;
    if (command == "delete") {
      key = Fields{};
      key.multicast = f.args[0];
      key.port = f.args[1];
      if (!TypeFields(key, form, prompter)) return kRefused;
      editor.OnDelete();
    } else {
      const std::optional<uint32_t> address = ParseAddress(f.args[0]);
      const int row = address ? FindRow(editor, *address, f.args[1]) : -1;
      if (row < 0) {
        prompter.ShowMessage(StringPrintf("No program at %s:%s", f.args[0].c_str(), f.args[1].c_str()),
                             MessageIcon::None);
        return kRefused;
      }
      editor.OnClickProgramList(row);  // the row's values fill the form, as a click does
      if (!TypeFields(f, form, prompter)) return kRefused;
      editor.OnModify();
    }
  } else {
    return BadUsage(StringPrintf("unknown command '%s'", command.c_str()));
  }

  if (command != "import") {
    changed = form.refreshes > refreshesBefore;
    if (!changed || editor.SavePending()) status = kRefused;
  }
  if (changed && !editor.SavePending() && !Reload(pidFile, service)) status = kRefused;
  return status;
}
