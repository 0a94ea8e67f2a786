#include "window/program_icon.h"

// Outside any namespace: Q_INIT_RESOURCE declares the resource's init
// function, which keeps the images linked in from this static library.
static void InitWindowResources() { Q_INIT_RESOURCE(window); }

QIcon ProgramIcon() {
  static const bool init = (InitWindowResources(), true);
  (void)init;
  QIcon icon;
  icon.addFile(QStringLiteral(":/iptv/iptv-32.png"), QSize(32, 32));
  icon.addFile(QStringLiteral(":/iptv/iptv-16.png"), QSize(16, 16));
  return icon;
}
