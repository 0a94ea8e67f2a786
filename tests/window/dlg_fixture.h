// The main window on a scratch folder, driven as the operator drives it:
// mouse clicks on its buttons and rows, keys typed into its edits. Shared
// by the window tests that open the whole dialog.
#pragma once

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "../support/netns.h"
#include "storage/interface_choice.h"
#include "table/program_table.h"
#include "window/ip_address_edit.h"
#include "window/log_pane.h"
#include "window/sender_dlg.h"
#include "window_test_support.h"

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class DlgFixture : public testing::Test {
 protected:
  // The window sends: only inside a private network namespace. config.txt
  // and the per-user store (interface choice, version on the air) live in
  // the scratch folder.
  void SetUp() override {
    REQUIRE_PRIVATE_NETNS();
    ASSERT_TRUE(dir.isValid());
    configPath = dir.filePath(QStringLiteral("config.txt")).toStdString();
    setenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit().constData(), 1);
    ResetProcessState();
  }
  void TearDown() override { dlg.reset(); }

  // What a fresh process starts with.
  static void ResetProcessState() {
    ResetProgramTable();
    ResetRunOnceFlag();
    g_bStopPrint = 0;
    g_dwSendAddr = 0;
  }

  void Open() {
    dlg = std::make_unique<CSenderDlg>(configPath, prompter);
    dlg->show();
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  }

  template <class W>
  W* Find(const char* name) const {
    W* widget = dlg->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QString Text(const char* name) const { return Find<QLineEdit>(name)->text(); }
  QString Cell(int row, int column) const {
    return Find<QTableView>("programList")->model()->index(row, column).data().toString();
  }
  int Rows() const { return Find<QTableView>("programList")->model()->rowCount(); }

  void Click(const char* button) { QTest::mouseClick(Find<QAbstractButton>(button), Qt::LeftButton); }
  void ClickRow(int row) {
    auto* list = Find<QTableView>("programList");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(row, 2)).center());
  }

  // Types over an edit's text: select it all and type key by key (an empty
  // text is a Backspace).
  void TypeOver(const char* name, const QString& text) {
    QLineEdit* edit = Find<QLineEdit>(name);
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty())
      QTest::keyClick(edit, Qt::Key_Backspace);
    else
      QTest::keyClicks(edit, text);
  }
  // Types a dotted address into the address control's four fields.
  void TypeAddressFields(const char* dotted) {
    auto* ip = Find<CIpAddressCtrl>("multicastIp");
    const QStringList octets = QString::fromLatin1(dotted).split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i) {
      ip->Field(i)->setFocus();
      ip->Field(i)->selectAll();
      QTest::keyClicks(ip->Field(i), octets[i]);
    }
  }

  // Takes datagrams in short turns, so the window keeps handling events,
  // until `ok` holds for the last list received (bounded).
  template <class Air, class Ok>
  bool AirShows(Air& air, Ok ok) {
    auto seen = [&] { return !air.lists.empty() && ok(air.lists.back()); };
    return QTest::qWaitFor(
        [&] {
          const auto turn = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
          air.Until([&] { return seen() || std::chrono::steady_clock::now() >= turn; }, std::chrono::seconds(1));
          return seen();
        },
        10000);
  }

  QTemporaryDir dir;
  std::string configPath;
  RecordingPrompter prompter;
  std::unique_ptr<CSenderDlg> dlg;
};
