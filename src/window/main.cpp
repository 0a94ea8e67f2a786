// iptv-sender: the operator's window of the play-list sender.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "iptv_version.h"
#include "window/code_page_text.h"
#include "window/sender_app.h"

int main(int argc, char** argv) {
  // Answered before the window opens, so that it needs no display.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("iptv-sender %s\n", IPTV_VERSION);
    return 0;
  }
  QApplication app(argc, argv);
  CSenderApp theApp;
  theApp.m_codePageOption = CodePageArgument(QApplication::arguments());
  theApp.InitInstance();
  return 0;
}
