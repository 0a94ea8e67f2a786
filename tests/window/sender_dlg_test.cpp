// The main window as the operator meets it: start-up values, the close
// path with the form's number rule, the about box, and one scripted run of
// the editing commands through the real widgets. The window starts the
// broadcast, so these run only inside a private network namespace.
#include "window/sender_dlg.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

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
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../e2e/air_support.h"
#include "../support/netns.h"
#include "dlg_fixture.h"
#include "storage/interface_choice.h"
#include "table/program_table.h"
#include "window/about_dlg.h"
#include "window/ip_address_edit.h"
#include "window/log_pane.h"

namespace {

constexpr const char* kNumberPrompt = "“请填入一个正整数。”";

class SenderDlgTest : public DlgFixture {
 protected:
  QLineEdit* Edit(const char* name) const { return Find<QLineEdit>(name); }

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

  // Tabs from the list into the address field and types the dotted address
  // over what it shows, key by key to the focused part.
  void TypeAddress(const QString& dotted) {
    auto* list = Find<QTableView>("programList");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Tab);
    for (QChar c : dotted) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
  }

  QStringList RowNames() const {
    const QAbstractItemModel* model = Find<QTableView>("programList")->model();
    QStringList names;
    for (int r = 0; r < model->rowCount(); ++r) names << model->index(r, 2).data().toString();
    return names;
  }
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

// A program as the scripted run types it (port 1234 throughout): its line in
// config.txt and what the monitor decodes from the air.
struct TypedProgram {
  int number;
  const char* name;
  const char* address;
  const char* remark;
  int group;
  bool hd;

  std::string Line() const {
    return std::to_string(number) + ":" + name + ":" + address + ":1234:" + remark + ":" + std::to_string(group) + ":" +
           (hd ? "1" : "0");
  }
  DecodedProgram OnAir() const { return ExpectedOnAir(MakeProgram(number, name, address, 1234, group, hd)); }
};

std::string ConfigBytes(const char* freq, int version, const char* index, const std::vector<TypedProgram>& programs) {
  std::string bytes = std::string("IPTV multicast IP List\r\n@freq:") + freq +
                      "#\r\n@version:" + std::to_string(version) + "#\r\n@index:" + index + "#\r\n";
  for (const TypedProgram& p : programs) bytes += "@mcast:" + p.Line() + "#\r\n";
  return bytes + "@end#\r\n";
}

// An address in network byte order, dotted.
std::string Dotted(uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

int SavedVersion(const std::string& bytes) {
  const size_t at = bytes.find("@version:");
  return at == std::string::npos ? -1 : std::atoi(bytes.c_str() + at + 9);
}

// Waits (bounded) until the monitor has completed a list of `version`,
// taking datagrams in short turns so that the window thread keeps handling
// its events meanwhile; then compares that list with `programs`, in order.
testing::AssertionResult SeesOnAir(AirReceiver& air, uint8_t version, const std::vector<TypedProgram>& programs) {
  auto seen = [&] { return !air.lists.empty() && air.lists.back().version == version; };
  const bool arrived = QTest::qWaitFor(
      [&] {
        const auto turn = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        air.Until([&] { return seen() || std::chrono::steady_clock::now() >= turn; }, std::chrono::seconds(1));
        return seen();
      },
      10000);
  if (!arrived) {
    std::string versions;
    for (const PlayList& l : air.lists) versions += " " + std::to_string(l.version);
    return testing::AssertionFailure() << "no list of version " << int{version} << " on the air; seen:" << versions;
  }
  std::vector<DecodedProgram> expected;
  for (const TypedProgram& p : programs) expected.push_back(p.OnAir());
  if (air.lists.back().programs == expected) return testing::AssertionSuccess();
  auto show = [](const std::vector<DecodedProgram>& list) {
    std::string text;
    for (const DecodedProgram& p : list)
      text += " [" + std::to_string(p.nNumber) + " " + p.name + " " + Dotted(htonl(p.address)) + ":" +
              std::to_string(p.nPort) + " g" + std::to_string(p.nGroup) + " hd" + std::to_string(p.bHD) + "]";
    return text;
  };
  return testing::AssertionFailure() << "version " << int{version} << " carries" << show(air.lists.back().programs)
                                     << "\n  expected" << show(expected);
}

// One operator session through the real widgets. After every step
// config.txt is checked byte for byte and the monitor must see the next
// version carry the list the step leaves. The send period is short, so
// each edit reaches the air at once.
TEST_F(SenderDlgTest, ScriptedOperatorRunSavesEveryEdit) {
  AirReceiver air;
  ASSERT_TRUE(air.Open()) << air.error;
  WriteFile(configPath, "IPTV multicast IP List\r\n@freq:10#\r\n@version:3#\r\n@index:1#\r\n@end#\r\n");
  Open();
  // The load's refresh steps the version once: 4 goes on the air, empty.
  ASSERT_TRUE(SeesOnAir(air, 4, {}));
  ASSERT_EQ(g_nVersion.load(), 4);
  uint8_t version = 4;

  // After an edit: the next version goes on the air with `programs` (list
  // order), and, with `freq`, config.txt holds them. The loop may step the
  // version between the edit and the save, so either one may be saved.
  auto after = [&](const std::vector<TypedProgram>& programs, const char* freq, const char* index) {
    const uint8_t next = NextVersion(version);
    if (freq != nullptr) {
      const std::string bytes = ReadFile(configPath);
      const int saved = SavedVersion(bytes);
      EXPECT_TRUE(saved == version || saved == next) << "saved " << saved << " after " << int{version};
      EXPECT_EQ(bytes, ConfigBytes(freq, saved, index, programs));
    }
    EXPECT_TRUE(SeesOnAir(air, next, programs));
    version = next;
  };
  auto addProgram = [&](const TypedProgram& p) {
    Type("numberEdit", QString::number(p.number));
    Type("nameEdit", QString::fromUtf8(p.name));
    TypeAddress(QString::fromLatin1(p.address));
    Type("portEdit", QStringLiteral("1234"));
    Type("remarkEdit", QString::fromLatin1(p.remark));
    Type("groupEdit", QString::number(p.group));
    if (Find<QCheckBox>("hdCheck")->isChecked() != p.hd) Click("hdCheck");
    Click("addButton");
  };
  const TypedProgram gamma{30, "Gamma", "239.0.0.3", "c", 3, true};
  const TypedProgram alpha{10, "Alpha 新闻", "239.0.0.1", "", 1, false};
  const TypedProgram beta{20, "Beta", "239.0.0.2", "b", 2, false};
  const TypedProgram betaHd{20, "Beta HD", "239.0.0.2", "b", 2, true};

  {
    SCOPED_TRACE("add");
    addProgram(gamma);
    after({gamma}, "10", "1");
    addProgram(alpha);
    after({alpha, gamma}, "10", "1");
    addProgram(beta);
    after({alpha, beta, gamma}, "10", "1");
    EXPECT_EQ(RowNames(), (QStringList{QString::fromUtf8("Alpha 新闻"), "Beta", "Gamma"}));
  }
  {
    SCOPED_TRACE("modify");
    // A click on a row fills the form; Modify changes that program.
    ClickRow(1);
    EXPECT_EQ(Text("numberEdit"), QStringLiteral("20"));
    EXPECT_EQ(Text("nameEdit"), QStringLiteral("Beta"));
    EXPECT_EQ(Find<CIpAddressCtrl>("multicastIp")->GetAddress(), 0xEF000002u);
    Type("nameEdit", QStringLiteral("Beta HD"));
    Click("hdCheck");
    Click("modifyButton");
    after({alpha, betaHd, gamma}, "10", "1");
  }
  {
    SCOPED_TRACE("delete");
    // Delete takes the program at the form's address and port.
    ClickRow(0);
    Click("deleteButton");
    after({betaHd, gamma}, "10", "1");
  }
  {
    SCOPED_TRACE("ordering and send period");
    // Ordering off, then a send period typed digit by digit: each is saved
    // and each is a new version.
    Click("orderByNumberCheck");
    after({betaHd, gamma}, "10", "0");
    Type("sendRateEdit", QStringLiteral("2"));
    after({betaHd, gamma}, "2", "0");
    QTest::keyClick(Edit("sendRateEdit"), Qt::Key_5);
    after({betaHd, gamma}, "25", "0");
    EXPECT_EQ(Text("sendRateEdit"), QStringLiteral("25"));
    EXPECT_EQ(dlg->Editor().m_nSendRate.load(), 25u);
  }
  const std::string edited = ConfigBytes("40", 31, "1", {gamma, alpha});
  {
    SCOPED_TRACE("reload");
    // Reload shows the file as it now is on disk, and saves nothing. Its
    // version 31 is stepped on the air to 0.
    WriteFile(configPath, edited);
    Click("reloadConfigButton");
    EXPECT_EQ(RowNames(), (QStringList{QString::fromUtf8("Alpha 新闻"), "Gamma"}));
    EXPECT_EQ(Text("sendRateEdit"), QStringLiteral("40"));
    version = 31;
    after({alpha, gamma}, nullptr, nullptr);
    EXPECT_EQ(version, 0);
    EXPECT_EQ(ReadFile(configPath), edited);
  }
  {
    SCOPED_TRACE("force update");
    // Force Update puts the same list on the air as a new version and
    // touches no file.
    Click("forceUpdateButton");
    after({alpha, gamma}, nullptr, nullptr);
    EXPECT_EQ(ReadFile(configPath), edited);
  }
  EXPECT_TRUE(prompter.messages.empty()) << prompter.messages.front().text;
}

// Runs with the namespace's veth pair, so the list offers its two
// addresses (vt0 10.77.0.1 and vt1 10.77.0.2) after "Default". The group is
// routed to vt0, so picking vt1's address shows that the choice, not the
// route, decides where the list leaves.
TEST_F(SenderDlgTest, PickingAnInterfaceStoresItForTheNextStart) {
  Open();
  auto* interfaces = Find<QComboBox>("interfaceList");
  if (interfaces->count() < 3) GTEST_SKIP() << "no veth pair in this namespace";
  const std::string picked = "10.77.0.2";
  const int index = interfaces->findText(QString::fromStdString(picked));
  ASSERT_GE(index, 1);

  // Picked by the operator (the keyboard on the closed list): stored at once,
  // while the running broadcast keeps the address it started with.
  interfaces->setFocus();
  for (int i = 0; i < index; ++i) QTest::keyClick(interfaces, Qt::Key_Down);
  ASSERT_EQ(interfaces->currentIndex(), index);
  CRegistryValue store;
  char buffer[256] = {};
  EXPECT_EQ(store.ReadString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, IPTV_VALUE_NAME, buffer), 0);
  EXPECT_EQ(std::string(buffer), picked);
  EXPECT_EQ(g_dwSendAddr, 0u);
  dlg.reset();

  // The next start selects it again and binds the broadcast to it.
  ResetProcessState();
  Open();
  EXPECT_EQ(Find<QComboBox>("interfaceList")->currentIndex(), index);
  EXPECT_EQ(g_dwSendAddr, inet_addr(picked.c_str()));

  // The play list really leaves from there: vt0, the pair's other end,
  // receives it with the picked address as its source. Both ends live here,
  // so vt0 must take packets from a local source.
  std::ofstream("/proc/sys/net/ipv4/conf/vt0/accept_local") << "1";
  std::ofstream("/proc/sys/net/ipv4/conf/vt0/rp_filter") << "0";
  ReceiveSocket rx;
  std::string error;
  ASSERT_TRUE(rx.Open(inet_addr("10.77.0.1"), &error)) << error;
  uint32_t source = 0;
  const bool received = QTest::qWaitFor(
      [&] {
        uint8_t packet[512];
        size_t got = 0;
        uint32_t from = 0;
        // Only a play-list packet counts: 188 bytes, sync byte, PID 0x0010.
        while (rx.Receive(packet, sizeof packet, 50, &got, nullptr, &from) == 1) {
          if (got == 188 && packet[0] == 0x47 && ((packet[1] & 0x1F) << 8 | packet[2]) == 0x0010) {
            source = from;
            return true;
          }
        }
        return false;
      },
      10000);
  ASSERT_TRUE(received) << "nothing arrived on vt0";
  EXPECT_EQ(Dotted(source), picked);
}

// Enter is no shortcut for any command: in the edits and the other controls
// it does nothing; on a focused button it clicks that button, as Space does.
TEST_F(SenderDlgTest, EnterClicksOnlyAFocusedButton) {
  const TypedProgram kept{1, "Kept", "239.0.0.1", "k", 1, false};
  WriteFile(configPath, ConfigBytes("10", 3, "1", {kept}));
  Open();
  // A form that Add would take at once.
  Type("numberEdit", QStringLiteral("77"));
  Type("nameEdit", QStringLiteral("New"));
  TypeAddress(QStringLiteral("239.9.9.9"));
  Type("portEdit", QStringLiteral("1234"));
  const std::string bytes = ReadFile(configPath);

  auto* ip = Find<CIpAddressCtrl>("multicastIp");
  std::vector<QWidget*> controls = {Edit("numberEdit"),
                                    Edit("nameEdit"),
                                    Edit("portEdit"),
                                    Edit("remarkEdit"),
                                    Edit("sendRateEdit"),
                                    Edit("groupEdit"),
                                    Find<QTableView>("programList"),
                                    Find<QCheckBox>("orderByNumberCheck"),
                                    Find<QCheckBox>("hdCheck"),
                                    Find<QComboBox>("interfaceList")};
  for (int i = 0; i < 4; ++i) controls.push_back(ip->Field(i));
  for (QWidget* control : controls) {
    SCOPED_TRACE(control->objectName().toStdString());
    control->setFocus();
    QTest::keyClick(control, Qt::Key_Return);
    QTest::keyClick(control, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(RowNames(), QStringList{"Kept"});
    EXPECT_EQ(ReadFile(configPath), bytes);
    EXPECT_TRUE(prompter.messages.empty());
    EXPECT_TRUE(dlg->isVisible());
  }
  EXPECT_EQ(Text("nameEdit"), QStringLiteral("New"));

  auto* add = Find<QPushButton>("addButton");
  add->setFocus();
  QTest::keyClick(add, Qt::Key_Return);
  EXPECT_EQ(RowNames(), (QStringList{"Kept", "New"}));
  auto* del = Find<QPushButton>("deleteButton");
  del->setFocus();
  QTest::keyClick(del, Qt::Key_Space);
  EXPECT_EQ(RowNames(), QStringList{"Kept"});
  auto* exit = Find<QPushButton>("exitButton");
  exit->setFocus();
  QTest::keyClick(exit, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_TRUE(prompter.messages.empty());
}

// A click below the last row selects no row: the form keeps what the
// operator typed, and the next Modify writes that.
TEST_F(SenderDlgTest, AClickBelowTheLastRowKeepsTheForm) {
  const TypedProgram first{1, "First", "239.0.0.1", "a", 1, false};
  const TypedProgram second{2, "Second", "239.0.0.2", "b", 2, true};
  WriteFile(configPath, ConfigBytes("10", 3, "1", {first, second}));
  Open();
  const std::string bytes = ReadFile(configPath);
  ClickRow(0);
  EXPECT_EQ(Text("nameEdit"), QStringLiteral("First"));
  Type("nameEdit", QStringLiteral("Typed"));
  TypeAddress(QStringLiteral("239.7.7.7"));

  auto* list = Find<QTableView>("programList");
  const QRect last = list->visualRect(list->model()->index(1, 2));
  const QPoint below(last.center().x(), last.bottom() + 3 * last.height());
  ASSERT_TRUE(list->viewport()->rect().contains(below));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);
  EXPECT_TRUE(list->selectionModel()->selectedRows().isEmpty());
  EXPECT_EQ(Text("nameEdit"), QStringLiteral("Typed"));
  EXPECT_EQ(Find<CIpAddressCtrl>("multicastIp")->GetAddress(), 0xEF070707u);
  EXPECT_FALSE(Find<QCheckBox>("hdCheck")->isChecked());
  EXPECT_EQ(dlg->Editor().m_nSelRow, 0);
  EXPECT_EQ(ReadFile(configPath), bytes);

  Click("modifyButton");
  EXPECT_EQ(RowNames(), (QStringList{"Typed", "Second"}));
  EXPECT_EQ(list->model()->index(0, 3).data().toString(), QStringLiteral("239.7.7.7"));
  EXPECT_TRUE(prompter.messages.empty());
}

// Tab from Exit visits every control once in the window's order and comes
// back to Exit; the list and the address field are one stop each, the
// arrow keys move within the list.
TEST_F(SenderDlgTest, TabVisitsTheControlsInOrderWithTheListAndTheAddressOneStopEach) {
  WriteFile(configPath, ConfigBytes("10", 3, "1",
                                    {{1, "A", "239.0.0.1", "", 1, false},
                                     {2, "B", "239.0.0.2", "", 1, false},
                                     {3, "C", "239.0.0.3", "", 1, false}}));
  Open();
  const QStringList order = {"programList",
                             "octet0",
                             "portEdit",
                             "remarkEdit",
                             "addButton",
                             "deleteButton",
                             "nameEdit",
                             "numberEdit",
                             "sendRateEdit",
                             "modifyButton",
                             "logPane",
                             "clearButton",
                             "stopPrintButton",
                             "orderByNumberCheck",
                             "reloadConfigButton",
                             "groupEdit",
                             "interfaceList",
                             "forceUpdateButton",
                             "hdCheck",
                             "exitButton"};
  auto visit = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QStringList seen;
    for (int i = 0; i < order.size(); ++i) {
      QTest::keyClick(QApplication::focusWidget(), key, modifiers);
      seen << QApplication::focusWidget()->objectName();
    }
    return seen;
  };
  ASSERT_EQ(QApplication::focusWidget(), Find<QPushButton>("exitButton"));
  EXPECT_EQ(visit(Qt::Key_Tab, Qt::NoModifier), order);
  QStringList backwards(order.rbegin() + 1, order.rend());
  backwards << "exitButton";
  EXPECT_EQ(visit(Qt::Key_Backtab, Qt::ShiftModifier), backwards);

  // The arrow keys move within the list and keep the focus there.
  auto* list = Find<QTableView>("programList");
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Home);
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_EQ(list->currentIndex().row(), 1);
  EXPECT_EQ(QApplication::focusWidget(), list);

  // From any part of the address, Tab and Shift+Tab leave the field.
  auto* ip = Find<CIpAddressCtrl>("multicastIp");
  QTest::mouseClick(ip->Field(2), Qt::LeftButton);
  ASSERT_EQ(QApplication::focusWidget(), ip->Field(2));
  QTest::keyClick(ip->Field(2), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Edit("portEdit"));
  QTest::mouseClick(ip->Field(3), Qt::LeftButton);
  QTest::keyClick(ip->Field(3), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), list);
}

TEST_F(SenderDlgTest, OpensWithItsFrameInTheMiddleOfTheScreen) {
  Open();
  const QRect area = dlg->screen()->availableGeometry();
  const QRect frame = dlg->frameGeometry();
  ASSERT_TRUE(area.contains(frame));
  EXPECT_LE(std::abs(frame.center().x() - area.center().x()), 1) << frame.x();
  EXPECT_LE(std::abs(frame.center().y() - area.center().y()), 1) << frame.y();
}

// A list too long for the air is put on the air first; the operator is told
// once the window runs, while the file's own messages come as it is read.
TEST_F(SenderDlgTest, StartsBroadcastingBeforeTheOverfullListIsToldAbout) {
  AirReceiver air;
  ASSERT_TRUE(air.Open()) << air.error;
  std::string bytes = "IPTV multicast IP List\r\n@freq:10#\r\n@version:3#\r\n@index:1#\r\n@<b>x</b>:1#\r\n";
  for (int i = 1; i <= 40; ++i)
    bytes +=
        "@mcast:" + std::to_string(i) + ":" + std::string(127, 'L') + ":224.5.5." + std::to_string(i) + ":1:n:0:0#\r\n";
  WriteFile(configPath, bytes + "@end#\r\n");

  struct Moment {
    std::string text;
    bool windowShown, broadcasting, onAir;
  };
  std::vector<Moment> moments;
  CallbackPrompter watching([&](const std::string& text) {
    const bool running = dlg != nullptr && dlg->Loop().Running();
    // The broadcast must not wait for the answer: sections arrive while the
    // box would be open.
    const bool onAir = running && air.Until([&] { return !air.sections.empty(); }, std::chrono::seconds(5));
    moments.push_back({text, dlg != nullptr && dlg->isVisible(), running, onAir});
  });
  dlg = std::make_unique<CSenderDlg>(configPath, watching);
  dlg->show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return moments.size() >= 2; }, 10000));
  ASSERT_EQ(moments.size(), 2u);
  EXPECT_EQ(moments[0].text, "未知格式:<b>x</b>");
  EXPECT_FALSE(moments[0].broadcasting);
  EXPECT_EQ(
      moments[1].text,
      "4 of the 40 programs loaded do not fit into the play list (6 sections of 1024 bytes) and are not broadcast");
  EXPECT_TRUE(moments[1].windowShown);
  EXPECT_TRUE(moments[1].broadcasting);
  EXPECT_TRUE(moments[1].onAir);
  EXPECT_EQ(RowNames().size(), 40);
}

}  // namespace
