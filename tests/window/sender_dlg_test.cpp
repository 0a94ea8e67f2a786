// The main window as the operator meets it: start-up values, the close
// path with the form's number rule, the about box, and one scripted run of
// the editing commands through the real widgets. The window starts the
// broadcast, so these run only inside a private network namespace.
#include "window/sender_dlg.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "../support/netns.h"
#include "storage/interface_choice.h"
#include "table/program_table.h"
#include "window/about_dlg.h"
#include "window/ip_address_edit.h"
#include "window/log_pane.h"
#include "window_test_support.h"

namespace {

constexpr const char* kNumberPrompt = "“请填入一个正整数。”";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class SenderDlgTest : public testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETNS();
    ASSERT_TRUE(dir.isValid());
    configPath = dir.filePath(QStringLiteral("config.txt")).toStdString();
    // The per-user store (the interface choice) lives in the scratch folder.
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
  QLineEdit* Edit(const char* name) const { return Find<QLineEdit>(name); }
  QString Text(const char* name) const { return Edit(name)->text(); }

  void Click(const char* button) { QTest::mouseClick(Find<QAbstractButton>(button), Qt::LeftButton); }

  // Types into an edit as the operator does: select everything, type over it.
  void Type(const char* name, const QString& text) {
    QLineEdit* edit = Edit(name);
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty())
      QTest::keyClick(edit, Qt::Key_Backspace);
    else if (text.toLatin1() == text.toUtf8())
      QTest::keyClicks(edit, text);
    else
      edit->insert(text);  // what an input method hands over
  }

  void TypeAddress(const QString& dotted) {
    auto* ip = Find<CIpAddressCtrl>("multicastIp");
    const QStringList octets = dotted.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i) {
      ip->Field(i)->setFocus();
      ip->Field(i)->selectAll();
      QTest::keyClicks(ip->Field(i), octets[i]);
    }
  }

  void ClickRow(int row) {
    auto* list = Find<QTableView>("programList");
    const QRect cell = list->visualRect(list->model()->index(row, 2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
  }

  QStringList RowNames() const {
    const QAbstractItemModel* model = Find<QTableView>("programList")->model();
    QStringList names;
    for (int r = 0; r < model->rowCount(); ++r) names << model->index(r, 2).data().toString();
    return names;
  }

  QTemporaryDir dir;
  std::string configPath;
  RecordingPrompter prompter;
  std::unique_ptr<CSenderDlg> dlg;
};

TEST_F(SenderDlgTest, StartsWithoutConfigShowingTheInitialValues) {
  dlg = std::make_unique<CSenderDlg>(configPath, prompter);
  // Nothing of the broadcast's log shows before the window handles events.
  EXPECT_TRUE(Find<QPlainTextEdit>("logPane")->toPlainText().isEmpty());
  dlg->show();
  dlg->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));

  EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Brasqueto_MQXV_5300_Edit_V3.12"));
  const struct {
    const char* edit;
    const char* text;
  } fields[] = {{"portEdit", "10001"}, {"numberEdit", "0"},    {"nameEdit", "Name"},
                {"remarkEdit", ""},    {"sendRateEdit", "10"}, {"groupEdit", "0"}};
  for (const auto& f : fields) EXPECT_EQ(Text(f.edit), QString::fromLatin1(f.text)) << f.edit;
  EXPECT_EQ(Find<CIpAddressCtrl>("multicastIp")->GetAddress(), 0xE0020201u);
  EXPECT_TRUE(Find<QCheckBox>("orderByNumberCheck")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>("hdCheck")->isChecked());
  EXPECT_EQ(Find<QPushButton>("stopPrintButton")->text(), QStringLiteral("Stop Print"));
  EXPECT_EQ(dlg->focusWidget(), Find<QPushButton>("exitButton"));

  const QStringList captions = {"Exit", "Add", "Delete", "Modify", "Clear", "Reload Config.", "Force Update"};
  for (const char* name : {"exitButton", "addButton", "deleteButton", "modifyButton", "clearButton",
                           "reloadConfigButton", "forceUpdateButton"})
    EXPECT_TRUE(captions.contains(Find<QPushButton>(name)->text())) << name;
  EXPECT_EQ(Find<QLabel>("sendEthernetLabel")->text(), QStringLiteral("Send Ethernet\n(Need restart):"));

  auto* list = Find<QTableView>("programList");
  const char* const headings[] = {"NO.", "Number", "Name", "Multicast", "Port", "Remark", "Group", "is HD"};
  const int widths[] = {25, 50, 220, 110, 60, 100, 50, 80};
  ASSERT_EQ(list->model()->columnCount(), 8);
  EXPECT_EQ(list->model()->rowCount(), 0);
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(headings[c]));
    EXPECT_EQ(list->horizontalHeader()->sectionSize(c), widths[c]);
  }
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_FALSE(list->isSortingEnabled());

  auto* interfaces = Find<QComboBox>("interfaceList");
  ASSERT_GE(interfaces->count(), 1);
  EXPECT_EQ(interfaces->itemText(0), QStringLiteral("Default"));
  EXPECT_EQ(interfaces->currentIndex(), 0);

  EXPECT_TRUE(dlg->Loop().Running());
  EXPECT_TRUE(prompter.messages.empty());
  // Start-up refreshes without saving: no file appears.
  EXPECT_FALSE(QFile::exists(QString::fromStdString(configPath)));
}

TEST_F(SenderDlgTest, StartsWithTheConfigFilesSettings) {
  WriteFile(configPath,
            "IPTV multicast IP List\r\n@freq:25#\r\n@version:3#\r\n@index:0#\r\n"
            "@mcast:7:Seven:239.0.0.7:1234:r:1:0#\r\n@mcast:5:Five:239.0.0.5:1234:r:1:0#\r\n@end#\r\n");
  Open();
  EXPECT_EQ(Text("sendRateEdit"), QStringLiteral("25"));
  EXPECT_FALSE(Find<QCheckBox>("orderByNumberCheck")->isChecked());
  EXPECT_EQ(RowNames(), (QStringList{"Seven", "Five"}));  // file order: ordering is off
  EXPECT_EQ(dlg->Editor().m_nSendRate.load(), 25u);
}

// Exit reads the form: a number field that breaks the rule keeps the window
// open with that field focused and selected; the fields after it are not read.
TEST_F(SenderDlgTest, ExitClosesOnlyWhenEveryNumberFieldReads) {
  const struct {
    const char* edit;
    const char* text;
    bool closes;
  } cases[] = {
      {"portEdit", "", false},    {"groupEdit", " 42 ", true},  {"groupEdit", "+7", true}, {"groupEdit", "-1", false},
      {"groupEdit", "7a", false}, {"numberEdit", "abc", false}, {"numberEdit", "", false}, {"numberEdit", "0", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.edit) + " = '" + c.text + "'");
    ResetProcessState();
    prompter.messages.clear();
    Open();
    if (std::string(c.edit) == "portEdit") Edit("groupEdit")->setText(QStringLiteral("x"));  // never read
    Edit(c.edit)->setText(QString::fromLatin1(c.text));
    Click("exitButton");

    EXPECT_EQ(dlg->isVisible(), !c.closes);
    EXPECT_EQ(dlg->Loop().Running(), !c.closes);
    if (c.closes) {
      EXPECT_TRUE(prompter.messages.empty());
    } else {
      ASSERT_EQ(prompter.messages.size(), 1u);
      EXPECT_EQ(prompter.messages[0].text, kNumberPrompt);
      EXPECT_EQ(prompter.messages[0].icon, MessageIcon::Exclamation);
      EXPECT_EQ(dlg->focusWidget(), Edit(c.edit));
      EXPECT_EQ(Edit(c.edit)->selectedText(), Edit(c.edit)->text());
    }
    dlg.reset();
  }
}

TEST_F(SenderDlgTest, EscapeAndTheCloseBoxTakeTheExitPath) {
  const struct {
    const char* route;
    void (*close)(CSenderDlg&);
  } routes[] = {
      {"Escape", [](CSenderDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
      {"close box / Alt+F4", [](CSenderDlg& d) { d.close(); }},
  };
  for (const auto& r : routes) {
    SCOPED_TRACE(r.route);
    ResetProcessState();
    prompter.messages.clear();
    Open();
    Edit("portEdit")->clear();
    r.close(*dlg);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(dlg->focusWidget(), Edit("portEdit"));

    Edit("portEdit")->setText(QStringLiteral("10001"));
    r.close(*dlg);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(dlg->Loop().Running());
    dlg.reset();
  }
}

TEST_F(SenderDlgTest, AboutBoxOpensFromTheWindowMenuWhileTheLogGoesOn) {
  Open();
  auto* log = Find<QPlainTextEdit>("logPane");

  // The menu: a separator, then the about entry.
  QStringList entries;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    entries << actions.last()->text();
    menu->close();
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), dlg->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(dlg.get(), &event);
  EXPECT_EQ(entries, QStringList{QString::fromUtf8("关于 Plexitor(&A)...")});

  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(about, nullptr);
    seen = true;
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About Plexitor"));
    EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("aboutVersion"))->text(),
              QStringLiteral("Plexitor 1.1 Version"));
    // The broadcast's lines keep reaching the pane under the modal box.
    log->clear();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !log->toPlainText().isEmpty(); }, 10000));
    QTest::keyClick(about, Qt::Key_Escape);
  });
  dlg->OnSysCommand(CSenderDlg::IDM_ABOUTBOX);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(dlg->isVisible());
}

// One operator session through the real widgets, with config.txt checked
// byte for byte after every step. The send period is so long that the loop
// makes one cycle and then waits, so the version it saves stays put.
TEST_F(SenderDlgTest, ScriptedOperatorRunSavesEveryEdit) {
  WriteFile(configPath, "IPTV multicast IP List\r\n@freq:2147483647#\r\n@version:3#\r\n@index:1#\r\n@end#\r\n");
  Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->Loop().Cycles() >= 1; }, 10000));
  ASSERT_EQ(g_nVersion.load(), 4);  // the load's refresh stepped it once

  auto expected = [](const char* freq, const char* index, std::initializer_list<const char*> programs) {
    std::string bytes =
        std::string("IPTV multicast IP List\r\n@freq:") + freq + "#\r\n@version:4#\r\n@index:" + index + "#\r\n";
    for (const char* p : programs) bytes += std::string("@mcast:") + p + "#\r\n";
    return bytes + "@end#\r\n";
  };
  auto addProgram = [&](const char* number, const char* name, const char* address, const char* remark,
                        const char* group, bool hd) {
    Type("numberEdit", QString::fromLatin1(number));
    Type("nameEdit", QString::fromUtf8(name));
    TypeAddress(QString::fromLatin1(address));
    Type("portEdit", QStringLiteral("1234"));
    Type("remarkEdit", QString::fromLatin1(remark));
    Type("groupEdit", QString::fromLatin1(group));
    if (Find<QCheckBox>("hdCheck")->isChecked() != hd) Click("hdCheck");
    Click("addButton");
  };
  const char* const gamma = "30:Gamma:239.0.0.3:1234:c:3:1";
  const char* const alpha = "10:Alpha 新闻:239.0.0.1:1234::1:0";
  const char* const beta = "20:Beta:239.0.0.2:1234:b:2:0";

  addProgram("30", "Gamma", "239.0.0.3", "c", "3", true);
  EXPECT_EQ(ReadFile(configPath), expected("2147483647", "1", {gamma}));
  addProgram("10", "Alpha 新闻", "239.0.0.1", "", "1", false);
  EXPECT_EQ(ReadFile(configPath), expected("2147483647", "1", {alpha, gamma}));
  addProgram("20", "Beta", "239.0.0.2", "b", "2", false);
  EXPECT_EQ(ReadFile(configPath), expected("2147483647", "1", {alpha, beta, gamma}));
  EXPECT_EQ(RowNames(), (QStringList{QString::fromUtf8("Alpha 新闻"), "Beta", "Gamma"}));

  // A click on a row fills the form; Modify changes that program.
  ClickRow(1);
  EXPECT_EQ(Text("numberEdit"), QStringLiteral("20"));
  EXPECT_EQ(Text("nameEdit"), QStringLiteral("Beta"));
  EXPECT_EQ(Find<CIpAddressCtrl>("multicastIp")->GetAddress(), 0xEF000002u);
  Type("nameEdit", QStringLiteral("Beta HD"));
  Click("hdCheck");
  Click("modifyButton");
  EXPECT_EQ(ReadFile(configPath), expected("2147483647", "1", {alpha, "20:Beta HD:239.0.0.2:1234:b:2:1", gamma}));

  // Delete takes the program at the form's address and port.
  ClickRow(0);
  Click("deleteButton");
  EXPECT_EQ(ReadFile(configPath), expected("2147483647", "1", {"20:Beta HD:239.0.0.2:1234:b:2:1", gamma}));

  // Ordering off, then a send period typed digit by digit: each is saved.
  Click("orderByNumberCheck");
  EXPECT_EQ(ReadFile(configPath), expected("2147483647", "0", {"20:Beta HD:239.0.0.2:1234:b:2:1", gamma}));
  Type("sendRateEdit", QStringLiteral("25"));
  EXPECT_EQ(ReadFile(configPath), expected("25", "0", {"20:Beta HD:239.0.0.2:1234:b:2:1", gamma}));
  EXPECT_EQ(dlg->Editor().m_nSendRate.load(), 25u);

  // Reload shows the file as it now is on disk, and saves nothing.
  const std::string edited = expected("40", "1", {gamma, alpha});
  WriteFile(configPath, edited);
  Click("reloadConfigButton");
  EXPECT_EQ(RowNames(), (QStringList{QString::fromUtf8("Alpha 新闻"), "Gamma"}));
  EXPECT_EQ(Text("sendRateEdit"), QStringLiteral("40"));
  EXPECT_EQ(ReadFile(configPath), edited);

  // Force Update raises the change flag for the loop and touches no file.
  g_bListChanged = 0;
  Click("forceUpdateButton");
  EXPECT_EQ(g_bListChanged.load(), 1);
  EXPECT_EQ(ReadFile(configPath), edited);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.messages.front().text;
}

// Runs with the namespace's veth pair, so the list offers its two
// addresses (10.77.0.1 and 10.77.0.2) after "Default".
TEST_F(SenderDlgTest, PickingAnInterfaceStoresItForTheNextStart) {
  Open();
  auto* interfaces = Find<QComboBox>("interfaceList");
  if (interfaces->count() < 3) GTEST_SKIP() << "no veth pair in this namespace";
  const std::string picked = interfaces->itemText(1).toStdString();
  ASSERT_TRUE(picked == "10.77.0.1" || picked == "10.77.0.2") << picked;

  // Picked by the operator (the keyboard on the closed list): stored at once,
  // while the running broadcast keeps the address it started with.
  interfaces->setFocus();
  QTest::keyClick(interfaces, Qt::Key_Down);
  ASSERT_EQ(interfaces->currentIndex(), 1);
  CRegistryValue store;
  char buffer[256] = {};
  EXPECT_EQ(store.ReadString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, IPTV_VALUE_NAME, buffer), 0);
  EXPECT_EQ(std::string(buffer), picked);
  EXPECT_EQ(g_dwSendAddr, 0u);
  dlg.reset();

  // The next start selects it again and binds the broadcast to it.
  ResetProcessState();
  Open();
  EXPECT_EQ(Find<QComboBox>("interfaceList")->currentIndex(), 1);
  EXPECT_EQ(g_dwSendAddr, inet_addr(picked.c_str()));
}

}  // namespace
