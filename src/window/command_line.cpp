#include "window/command_line.h"

#include <cstring>

const char kWindowUsage[] =
    "Usage: iptv-sender [--config PATH] [--codepage NAME] [QT OPTION]...\n"
    "The operator's window: edit the program list and keep it on the air.\n"
    "\n"
    "  --config PATH   the program list to load and save; also --config=PATH.\n"
    "                  Without it: config.txt beside this executable when its\n"
    "                  folder can be written and is no system folder (/usr/...),\n"
    "                  else config.txt in\n"
    "                  $XDG_CONFIG_HOME/Kestavin/IPTV/ (~/.config/Kestavin/IPTV/)\n"
    "  --codepage NAME the head end's code page of the names and remarks (GBK,\n"
    "                  CP936, BIG5, UTF-8, ...), remembered for the next starts;\n"
    "                  'locale' goes back to the locale's character set\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Qt's standard options (-platform NAME, -display DISPLAY, ...) are taken too.\n";

WindowOptions ParseWindowOptions(int argc, char** argv, bool strict) {
  WindowOptions o;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) return {WindowOptions::Action::Help, {}, {}};
    if (std::strcmp(a, "--version") == 0) return {WindowOptions::Action::Version, {}, {}};
    if (!strict) continue;
    if (std::strcmp(a, "--config") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return {WindowOptions::Action::Bad, {}, "--config needs a path"};
      o.configPath = argv[++i];
    } else if (std::strncmp(a, "--config=", 9) == 0) {
      if (a[9] == '\0') return {WindowOptions::Action::Bad, {}, "--config needs a path"};
      o.configPath = a + 9;
    } else if (std::strcmp(a, "--codepage") == 0) {
      // Taken by the window itself (CodePageArgument); a missing or unknown
      // name is told in a message box there.
      if (i + 1 < argc) ++i;
    } else if (std::strncmp(a, "--codepage=", 11) == 0) {
    } else {
      return {WindowOptions::Action::Bad,
              {},
              std::string(a[0] == '-' ? "unknown option '" : "unexpected argument '") + a + "'"};
    }
  }
  return o;
}
