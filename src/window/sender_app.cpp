#include "window/sender_app.h"

#include <QApplication>

#include "broadcast/udp_socket.h"
#include "storage/code_page_choice.h"
#include "storage/config_file.h"
#include "storage/config_location.h"
#include "window/dialog_units.h"
#include "window/qt_prompter.h"
#include "window/sender_dlg.h"

bool CSenderApp::InitInstance() {
  // Every box of the program, message boxes included, in the dialog font,
  // so Chinese texts always find their glyphs.
  QApplication::setFont(DialogFont());

  const bool socketsAvailable = m_socketsAvailable != nullptr ? m_socketsAvailable() : SocketsAvailable();
  if (!socketsAvailable) {
    QtPrompter noOwner;
    Prompter& prompter = m_startupPrompter != nullptr ? *m_startupPrompter : noOwner;
    prompter.ShowMessage("Windows 通信端口初始化失败。", MessageIcon::Exclamation);
    return false;
  }

  QtPrompter prompter;
  // The code page is settled before the window reads config.txt.
  CRegistryValue store;
  const CodePageStartup codePage = ChooseCodePage(store, m_codePageOption);
  SetHeadEndCodePage(codePage.codePage);
  if (!codePage.message.empty())
    (m_startupPrompter != nullptr ? *m_startupPrompter : prompter)
        .ShowMessage(codePage.message, MessageIcon::Exclamation);
  CSenderDlg dlg(WindowConfigPath(m_configPath), prompter);
  prompter.SetOwner(&dlg);
  dlg.exec();
  prompter.SetOwner(nullptr);
  return false;
}
