// iptv-sender: the operator's window of the play-list sender.
#include <QApplication>
#include <cstdio>

#include "iptv_version.h"
#include "window/code_page_text.h"
#include "window/command_line.h"
#include "window/sender_app.h"

int main(int argc, char** argv) {
  // --help and --version are answered before the window, so that they need
  // no display.
  const WindowOptions early = ParseWindowOptions(argc, argv, false);
  if (early.action == WindowOptions::Action::Version) {
    std::printf("iptv-sender %s\n", IPTV_VERSION);
    return 0;
  }
  if (early.action == WindowOptions::Action::Help) {
    std::fputs(kWindowUsage, stdout);
    return 0;
  }
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  const WindowOptions options = ParseWindowOptions(argc, argv, true);
  if (options.action == WindowOptions::Action::Bad) {
    std::fprintf(stderr, "iptv-sender: %s\n\n%s", options.problem.c_str(), kWindowUsage);
    return 2;
  }
  CSenderApp theApp;
  theApp.m_configPath = options.configPath;
  theApp.m_codePageOption = CodePageArgument(QApplication::arguments());
  theApp.InitInstance();
  return 0;
}
