// One scripted sequence of commands run twice: through the window's widgets
// with real key and mouse events (the import and export through the
// window's menu and file dialogs), and through iptv-list. Both must leave
// the same config.txt and export the same files. The window starts the
// broadcast, so this runs only inside a private network namespace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "../support/netns.h"
#include "dlg_fixture.h"
#include "table/program_table.h"
#include "window/sender_dlg.h"

extern char** environ;

namespace {

// The version line moves with the broadcast's cycles in the window; the
// rest of the file is the commands' doing.
std::string WithoutVersion(std::string file) {
  const size_t at = file.find("@version:");
  if (at != std::string::npos) file.erase(at, file.find('\n', at) + 1 - at);
  return file;
}

// One command of the script, as both sides take it.
struct Step {
  enum Kind { Add, Modify, Delete, Set, Import, Export };
  Step(Kind k, std::string k2 = {}) : kind(k), key(std::move(k2)) {}
  Kind kind;
  std::string key;  // Modify, Delete: "ADDR PORT"; Import, Export: the file's name
  std::optional<std::string> number, name, multicast, port, remark, group, sendRate;
  std::optional<bool> hd, order;
};

std::vector<std::string> CliArgs(const Step& s, const std::string& dir) {
  static const char* const kCommands[] = {"add", "modify", "delete", "set", "import", "export"};
  std::vector<std::string> args = {"--yes", kCommands[s.kind]};
  if (s.kind == Step::Modify || s.kind == Step::Delete) {
    const size_t blank = s.key.find(' ');
    args.push_back(s.key.substr(0, blank));
    args.push_back(s.key.substr(blank + 1));
  }
  if (s.kind == Step::Import || s.kind == Step::Export) args.push_back(dir + "/" + s.key);
  auto option = [&](const char* name, const std::optional<std::string>& value) {
    if (value) {
      args.push_back(name);
      args.push_back(*value);
    }
  };
  option("--number", s.number);
  option("--name", s.name);
  option("--multicast", s.multicast);
  option("--port", s.port);
  option("--remark", s.remark);
  option("--group", s.group);
  option("--send-rate", s.sendRate);
  if (s.hd) args.push_back(*s.hd ? "--hd" : "--no-hd");
  if (s.order) {
    args.push_back("--order-by-number");
    args.push_back(*s.order ? "on" : "off");
  }
  return args;
}

int RunCli(std::vector<std::string> args, const std::string& config) {
  args.insert(args.begin(), {IPTV_LIST_PATH, "--config", config});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ListParityTest : public DlgFixture {
 protected:
  void SetUp() override {
    DlgFixture::SetUp();
    prompter.answer = true;  // as --yes
  }

  void Type(const char* name, const std::string& text) { TypeOver(name, QString::fromStdString(text)); }
  void TypeAddress(const std::string& dotted) {
    auto* list = Find<QTableView>("programList");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Tab);
    for (char c : dotted) QTest::keyClick(QApplication::focusWidget(), c);
  }
  void SetCheck(const char* name, bool on) {
    if (Find<QCheckBox>(name)->isChecked() != on) Click(name);
  }
  int RowOf(const std::string& key) const {
    const QAbstractItemModel* model = Find<QTableView>("programList")->model();
    for (int r = 0; r < model->rowCount(); ++r) {
      const std::string rowKey =
          model->index(r, 3).data().toString().toStdString() + " " + model->index(r, 4).data().toString().toStdString();
      if (rowKey == key) return r;
    }
    return -1;
  }
  void TypeFields(const Step& s) {
    if (s.number) Type("numberEdit", *s.number);
    if (s.name) Type("nameEdit", *s.name);
    if (s.multicast) TypeAddress(*s.multicast);
    if (s.port) Type("portEdit", *s.port);
    if (s.remark) Type("remarkEdit", *s.remark);
    if (s.group) Type("groupEdit", *s.group);
    if (s.hd) SetCheck("hdCheck", *s.hd);
  }

  // Opens the window's menu with a right click's event, picks the entry,
  // and types the file's name into the dialog that opens in the config
  // file's folder.
  void ThroughMenu(const char* entry, const std::string& path) {
    // Two timers: the menu's entry opens the dialog inside the first one's
    // slot, and a timer does not fire again while its slot runs.
    bool picked = false, typed = false;
    QTimer menuPoll, dialogPoll;
    QObject::connect(&menuPoll, &QTimer::timeout, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr || picked) return;
      for (QAction* action : menu->actions()) {
        if (action->objectName() != QLatin1String(entry)) continue;
        picked = true;
        // Down to the entry, then Enter, as the keyboard picks it.
        for (int i = 0; i < 10 && menu->activeAction() != action; ++i) QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
        return;
      }
    });
    QObject::connect(&dialogPoll, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || typed) return;
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_NE(name, nullptr);
      typed = true;
      // The completer's popup would take the Enter. The names of the files
      // in the folder begin differently: the dialog completes a name as it
      // is typed.
      name->setCompleter(nullptr);
      name->setFocus();
      QTest::keyClicks(name, QString::fromStdString(path));
      QTest::keyClick(name, Qt::Key_Return);
    });
    menuPoll.start(20);
    dialogPoll.start(20);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), dlg->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(dlg.get(), &event);
    EXPECT_TRUE(QTest::qWaitFor([&] { return typed && QApplication::activeModalWidget() == nullptr; }, 10000));
    // The window manager gives the window back its activation.
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  }

  void RunInWindow(const Step& s) {
    switch (s.kind) {
      case Step::Add:
        TypeFields(s);
        Click("addButton");
        break;
      case Step::Modify: {
        const int row = RowOf(s.key);
        ASSERT_GE(row, 0) << s.key;
        ClickRow(row);
        TypeFields(s);
        Click("modifyButton");
        break;
      }
      case Step::Delete:
        TypeAddress(s.key.substr(0, s.key.find(' ')));
        Type("portEdit", s.key.substr(s.key.find(' ') + 1));
        Click("deleteButton");
        break;
      case Step::Set:
        if (s.sendRate) Type("sendRateEdit", *s.sendRate);
        if (s.order) SetCheck("orderByNumberCheck", *s.order);
        break;
      case Step::Import:
        ThroughMenu("importAction", s.key);
        break;
      case Step::Export:
        ThroughMenu("exportAction", s.key);
        break;
    }
  }
};

TEST_F(ListParityTest, TheWindowAndTheCommandLineLeaveTheSameFiles) {
  const std::string base = dir.path().toStdString();
  const std::string cliDir = base + "/cli", winDir = base + "/win";
  std::filesystem::create_directory(cliDir);
  std::filesystem::create_directory(winDir);
  std::ofstream(base + "/in.csv", std::ios::binary) << "Number,Name,Multicast,Port,Remark,Group,HD\r\n"
                                                       "40,\"Forty, HD\",239.4.4.4,4000,from csv,4,1\r\n"
                                                       "0,Bad,239.4.4.5,4001,,,\r\n"
                                                       "3,Three,239.3.3.3,3000,,1,0\r\n";
  std::ofstream(base + "/in.m3u", std::ios::binary) << "#EXTM3U\n#EXTINF:-1 tvg-chno=\"9\" group-title=\"2\",Nine\n"
                                                       "udp://@239.9.9.9:9000\n";
  auto add = [](const char* number, const char* name, const char* multicast, const char* port, const char* remark,
                const char* group, bool hd) {
    Step s(Step::Add);
    s.number = number, s.name = name, s.multicast = multicast, s.port = port, s.remark = remark, s.group = group;
    s.hd = hd;
    return s;
  };
  std::vector<Step> script = {
      add("101", "News", "224.2.2.1", "10001", "studio", "2", true),
      add("7", "Sport", "224.2.2.2", "10002", "", "0", false),
      add("50", "Again", "224.2.2.1", "10001", "", "1", false),  // shares News's address: asked, OK
      add("0", "Refused", "224.2.2.3", "1", "", "0", false),     // refused: no change
      {Step::Import, "in.csv"},
      {Step::Modify, "224.2.2.2 10002"},
      {Step::Set},
      {Step::Import, "in.m3u"},
      {Step::Delete, "224.2.2.1 10001"},
      {Step::Delete, "239.0.0.1 1"},  // Delete Fail
      add("8", "Eight", "239.8.8.8", "8000", "last", "3", true),
      {Step::Export, "out"},
  };
  script[5].name = "Sport 2", script[5].port = "10003", script[5].hd = true;
  script[6].order = false, script[6].sendRate = "25";

  // The command line, into cli/.
  for (const char* name : {"in.csv", "in.m3u"}) {
    std::filesystem::copy_file(base + "/" + name, cliDir + "/" + name);
    std::filesystem::copy_file(base + "/" + name, winDir + "/" + name);
  }
  const std::string cliConfig = cliDir + "/config.txt";
  for (const Step& s : script) {
    Step cli = s;
    if (s.kind == Step::Export) {
      RunCli({"export", cliDir + "/play.m3u"}, cliConfig);
      RunCli({"export", cliDir + "/sheet.csv"}, cliConfig);
      continue;
    }
    RunCli(CliArgs(cli, cliDir), cliConfig);
  }

  // The window, into win/.
  dlg = std::make_unique<CSenderDlg>(winDir + "/config.txt", prompter);
  dlg->show();
  dlg->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  for (const Step& s : script) {
    SCOPED_TRACE(static_cast<int>(&s - script.data()));
    if (s.kind == Step::Export) {
      RunInWindow({Step::Export, "play.m3u"});
      RunInWindow({Step::Export, "sheet.csv"});
    } else {
      RunInWindow(s);
    }
  }

  const std::string cliFile = ReadFile(cliConfig);
  EXPECT_NE(cliFile.find("@mcast:9:Nine:239.9.9.9:9000::2:0#"), std::string::npos) << cliFile;
  EXPECT_EQ(WithoutVersion(ReadFile(winDir + "/config.txt")), WithoutVersion(cliFile));
  EXPECT_EQ(ReadFile(winDir + "/play.m3u"), ReadFile(cliDir + "/play.m3u"));
  EXPECT_EQ(ReadFile(winDir + "/sheet.csv"), ReadFile(cliDir + "/sheet.csv"));
  EXPECT_FALSE(ReadFile(winDir + "/sheet.csv").empty());
  // The window asked what the command line printed: the shared address, and
  // the import's refused row.
  ASSERT_EQ(prompter.questions.size(), 2u);
  EXPECT_EQ(prompter.questions[0].second, "Warning");
  EXPECT_EQ(prompter.questions[1].first.substr(prompter.questions[1].first.find("in.csv:")),
            "in.csv: 1 of 3 rows cannot be added:\nline 3: Program number should be 1-65535\n"
            "Import the 2 rows that passed?");
  dlg.reset();
}

}  // namespace
