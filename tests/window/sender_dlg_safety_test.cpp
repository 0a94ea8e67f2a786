// The window keeps what the operator has: a changed list reaches the boxes
// after "Reload Config." and after a restart, a file not loaded in full is
// kept before it is saved over, and a save that failed is tried again when
// the window closes. The window starts the broadcast, so these run only
// inside a private network namespace; the monitor's decoder judges the air.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "../e2e/air_support.h"
#include "../support/netns.h"
#include "dlg_fixture.h"
#include "storage/config_file.h"
#include "storage/interface_choice.h"
#include "window/ip_address_edit.h"
#include "window/log_pane.h"
#include "window/qt_prompter.h"
#include "window/sender_dlg.h"

namespace {

namespace fs = std::filesystem;

// Written to a temporary name and renamed into place, as editors save.
void WriteConfig(const std::string& path, const std::string& bytes) {
  std::ofstream(path + ".writing", std::ios::binary) << bytes;
  fs::rename(path + ".writing", path);
}

std::string ConfigOf(const std::vector<ProgramEntry>& programs, int version) {
  std::vector<RowTexts> rows;
  for (size_t i = 0; i < programs.size(); ++i) rows.push_back(FormatRow(static_cast<int>(i), programs[i]));
  return FormatConfig(rows, 10, static_cast<uint8_t>(version), 0);
}

// A list of `sections` sections whose names begin with `tag`.
std::vector<ProgramEntry> Tagged(int sections, const char* tag) {
  std::vector<ProgramEntry> v = TableOfSections(sections);
  char name[32];
  for (size_t i = 0; i < v.size(); ++i) {
    std::snprintf(name, sizeof name, "%-8.8s%012zu", tag, i);
    CopyField(v[i].szName, name);
  }
  return v;
}

std::vector<DecodedProgram> OnAir(const std::vector<ProgramEntry>& programs) {
  std::vector<DecodedProgram> out;
  for (const ProgramEntry& e : programs) out.push_back(ExpectedOnAir(e));
  return out;
}

class SenderDlgSafetyTest : public DlgFixture {
 protected:
  void Type(const char* name, const QString& text) {
    QLineEdit* edit = Find<QLineEdit>(name);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }
  void AddProgram(int number, const char* name, const char* address) {
    Type("numberEdit", QString::number(number));
    Type("nameEdit", QString::fromLatin1(name));
    TypeAddressFields(address);
    Type("portEdit", QStringLiteral("1234"));
    Click("addButton");
  }
  // Until the monitor printed `list` (bounded).
  bool SeesOnAir(AirReceiver& air, const std::vector<DecodedProgram>& list) {
    return AirShows(air, [&](const PlayList& l) { return l.programs == list; });
  }
};

// A hand edit of config.txt keeps its "@version" line. "Reload Config."
// must still put the edited list on the air under a version the boxes take
// as new; so must a start after an edit made while the window was closed.
TEST_F(SenderDlgSafetyTest, AHandEditedListReachesTheBoxesAfterReloadAndAfterARestart) {
  AirReceiver air;
  ASSERT_TRUE(air.Open()) << air.error;
  const std::vector<ProgramEntry> a = Tagged(2, "before"), b = Tagged(2, "reloaded"), c = Tagged(2, "restart");
  WriteConfig(configPath, ConfigOf(a, 3));
  Open();
  ASSERT_TRUE(SeesOnAir(air, OnAir(a)));

  WriteConfig(configPath, ConfigOf(b, 3));
  Click("reloadConfigButton");
  EXPECT_TRUE(SeesOnAir(air, OnAir(b))) << "the reloaded list never reached the monitor";

  Click("exitButton");
  ASSERT_FALSE(dlg->isVisible());
  dlg.reset();
  air.Drain();
  WriteConfig(configPath, ConfigOf(c, 3));
  ResetProcessState();
  Open();
  EXPECT_TRUE(SeesOnAir(air, OnAir(c))) << "the list edited while closed never reached the monitor";
  EXPECT_TRUE(prompter.messages.empty()) << prompter.messages.front().text;
}

// "Reload Config." of a file with a bad line shows the box (its text first,
// then the file and the line) and the programs before the line, as always;
// the next Add keeps the file as it was beside it before saving.
TEST_F(SenderDlgSafetyTest, AReloadThatStoppedKeepsTheFileBesideItBeforeTheNextSave) {
  std::string text = "IPTV multicast IP List\r\n@freq:10#\r\n@version:3#\r\n@index:1#\r\n";
  for (int i = 1; i <= 50; ++i)
    text += "@mcast:" + std::to_string(i) + ":P:224.3.3." + (i == 10 ? std::string("x") : std::to_string(i)) +
            ":1234:r:0:0#\r\n";
  text += "@end#\r\n";
  Open();
  WriteConfig(configPath, text);
  Click("reloadConfigButton");
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].text,
            "错误的IP地址\n" + configPath + ", line 14: the load stopped here; 41 program line(s) not loaded.");
  EXPECT_EQ(Rows(), 9);

  AddProgram(100, "Added", "224.9.9.9");
  EXPECT_EQ(Rows(), 10);
  std::vector<std::string> kept;
  for (const auto& e : fs::directory_iterator(dir.path().toStdString()))
    if (e.path().filename().string().rfind("config.txt.bad-", 0) == 0) kept.push_back(e.path().string());
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(ReadFile(kept[0]), text) << "all 50 programs are still on disk";
  ASSERT_EQ(prompter.messages.size(), 2u);
  EXPECT_NE(prompter.messages[1].text.find(kept[0]), std::string::npos) << prompter.messages[1].text;
}

// A save that failed is owed when the operator closes the window: it is
// tried again; while it fails the operator is told the path and the reason
// and may retry or close anyway.
TEST_F(SenderDlgSafetyTest, ClosingTriesAnOwedSaveAgain) {
  const struct {
    const char* what;
    bool fixedBeforeClose;
    bool retry;  // the answer to the question
    size_t questions;
    bool saved;
  } cases[] = {
      {"the cause went away before the close", true, false, 0, true},
      {"fixed while the question was open, then retried", false, true, 1, true},
      {"closed anyway", false, false, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetProcessState();
    prompter = RecordingPrompter();
    fs::remove_all(configPath);
    WriteConfig(configPath, "IPTV multicast IP List\r\n@freq:10#\r\n@version:3#\r\n@index:1#\r\n@end#\r\n");
    Open();
    // Something that is no file now stands where config.txt was: the save
    // of the next edit fails (whoever runs the test).
    fs::remove(configPath);
    fs::create_directory(configPath);
    AddProgram(7, "Seven", "239.0.0.7");
    ASSERT_EQ(prompter.messages.size(), 1u) << "the failed save is told";
    EXPECT_EQ(Rows(), 1);

    auto fix = [&] { fs::remove_all(configPath); };
    if (c.fixedBeforeClose) fix();
    prompter.onRetry = [&] {
      if (c.retry) fix();
      return c.retry;
    };
    Click("exitButton");
    EXPECT_FALSE(dlg->isVisible());
    ASSERT_EQ(prompter.retries.size(), c.questions);
    if (c.questions > 0) {
      EXPECT_NE(prompter.retries[0].find(configPath + ": Is a directory"), std::string::npos) << prompter.retries[0];
    }
    const std::string file = fs::is_regular_file(configPath) ? ReadFile(configPath) : std::string();
    EXPECT_EQ(file.find("@mcast:7:Seven:239.0.0.7:1234:") != std::string::npos, c.saved) << file;
    dlg.reset();
  }
}

// The operator's question after a failed save at close: Retry is the
// default and what Escape does; only "Close Anyway" gives the changes up.
TEST(QtPrompterTest, RetryQuestionGivesUpOnlyOnCloseAnyway) {
  const struct {
    const char* what;
    void (*answer)(QMessageBox&);
    bool retry;
  } cases[] = {
      {"Close Anyway",
       [](QMessageBox& b) {
         QTest::mouseClick(b.findChild<QPushButton*>(QStringLiteral("closeAnywayButton")), Qt::LeftButton);
       },
       false},
      {"Retry", [](QMessageBox& b) { QTest::mouseClick(b.button(QMessageBox::Retry), Qt::LeftButton); }, true},
      {"Enter", [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }, true},
      {"Escape", [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QString text;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      text = box->text();
      c.answer(*box);
    });
    QtPrompter prompter;
    EXPECT_EQ(prompter.AskRetry("The program list could not be saved (x: y)."), c.retry);
    EXPECT_EQ(text, QStringLiteral("The program list could not be saved (x: y)."));
  }
}

}  // namespace
