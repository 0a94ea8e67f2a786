// iptv-sender: the operator's window of the play-list sender.
#include <QApplication>

#include "window/sender_app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  CSenderApp theApp;
  theApp.InitInstance();
  return 0;
}
