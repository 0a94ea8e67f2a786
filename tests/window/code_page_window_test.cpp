// The window of a head end whose code page is GBK: a config.txt written in
// GBK shows its Chinese names, a name typed in Chinese goes on the air and
// into the file as GBK bytes, and an unchanged program is written back byte
// for byte. The window broadcasts, so this runs in a private namespace only.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
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

#include "../e2e/air_support.h"
#include "../support/netns.h"
#include "dlg_fixture.h"
#include "storage/interface_choice.h"
#include "table/program_table.h"
#include "text/code_page.h"
#include "window/code_page_text.h"
#include "window/ip_address_edit.h"
#include "window/sender_app.h"
#include "window/sender_dlg.h"

namespace {

std::string Gbk(const char* utf8) { return CodePage::Named("GBK", nullptr)->FromUtf8(utf8).value_or("?"); }

class CodePageWindowTest : public DlgFixture {
 protected:
  void SetUp() override {
    DlgFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string error;
    ASSERT_TRUE(ApplyCodePageOption("GBK", &error)) << error;
  }
  void TearDown() override {
    DlgFixture::TearDown();
    SetHeadEndCodePage(CodePage::Utf8());
  }

  // Types over an edit's text, one key event per character, each carrying
  // its character as a keyboard of that script hands it over.
  void Type(const char* name, const QString& text) {
    QLineEdit* edit = Find<QLineEdit>(name);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    for (qsizetype i = 0; i < text.size(); ++i) {
      const qsizetype n = text[i].isHighSurrogate() ? 2 : 1;
      QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
      i += n - 1;
    }
  }
};

TEST_F(CodePageWindowTest, ShowsTakesAndSendsTheHeadEndsCodePage) {
  AirReceiver air;
  ASSERT_TRUE(air.Open()) << air.error;
  const std::string fixture = ReadFile(std::string(IPTV_CONFIG_FIXTURES) + "/gbk.txt");
  ASSERT_FALSE(fixture.empty());
  std::ofstream(configPath, std::ios::binary) << fixture;
  Open();

  // The list shows the characters, and the loaded GBK bytes are on the air.
  EXPECT_EQ(Cell(0, 2), QString::fromUtf8("中央电视台一套"));
  EXPECT_EQ(Cell(0, 5), QString::fromUtf8("北京演播室"));
  EXPECT_EQ(Cell(1, 2), QString::fromUtf8("凤凰卫视中文台"));
  EXPECT_EQ(Cell(1, 5), QString::fromUtf8("丂乗 @\\"));
  ASSERT_TRUE(AirShows(
      air, [](const PlayList& l) { return l.programs.size() == 3 && l.programs[0].name == Gbk("中央电视台一套"); }));

  // A click on a row shows its texts in the form.
  ClickRow(0);
  EXPECT_EQ(Text("nameEdit"), QString::fromUtf8("中央电视台一套"));
  EXPECT_EQ(Text("remarkEdit"), QString::fromUtf8("北京演播室"));

  // A new program typed in Chinese. A character GBK has no place for is
  // refused as it is typed.
  Type("numberEdit", QStringLiteral("4"));
  Type("nameEdit", QString::fromUtf8("东方卫视"));
  QTest::sendKeyEvent(QTest::Click, Find<QLineEdit>("nameEdit"), Qt::Key_unknown, QString::fromUtf8("📺"),
                      Qt::NoModifier);
  EXPECT_EQ(Text("nameEdit"), QString::fromUtf8("东方卫视"));
  TypeAddressFields("224.2.2.4");
  Type("portEdit", QStringLiteral("10004"));
  Type("remarkEdit", QString::fromUtf8("上海"));
  Click("addButton");
  ASSERT_TRUE(
      AirShows(air, [](const PlayList& l) { return l.programs.size() == 4 && l.programs[3].name == Gbk("东方卫视"); }));
  EXPECT_EQ(Cell(3, 2), QString::fromUtf8("东方卫视"));

  // The file: the loaded lines as they were, byte for byte, and the new one
  // in GBK.
  const std::string saved = ReadFile(configPath);
  const std::string added = "@mcast:4:" + Gbk("东方卫视") + ":224.2.2.4:10004:" + Gbk("上海") + ":1:1#\r\n";
  const size_t versionAt = saved.find("@version:");
  ASSERT_NE(versionAt, std::string::npos);
  const std::string versionLine = saved.substr(versionAt, saved.find('\n', versionAt) + 1 - versionAt);
  std::string expected = fixture;
  expected.replace(expected.find("@version:3#\r\n"), 13, versionLine);
  expected.insert(expected.find("@end#"), added);
  EXPECT_EQ(saved, expected);

  // Through the form and back: a program modified without a change keeps
  // its bytes, trail bytes '@' and '\' included.
  ClickRow(1);
  Click("modifyButton");
  EXPECT_NE(ReadFile(configPath)
                .find("@mcast:2:" + Gbk("凤凰卫视中文台") + ":224.2.2.2:10001:" + Gbk("丂乗 @\\") + ":2:0#\r\n"),
            std::string::npos);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.messages.front().text;
}

// The application settles the code page before the window reads the file:
// a name given is used and kept for the next start; an unknown one is told
// and the locale's is used.
TEST_F(CodePageWindowTest, TheApplicationUsesKeepsOrRefusesTheNameGiven) {
  setenv("LC_ALL", "C", 1);
  const auto run = [&](std::optional<std::string> option) {
    CSenderApp app;
    app.m_socketsAvailable = [] { return true; };
    app.m_startupPrompter = &prompter;
    app.m_codePageOption = std::move(option);
    // Closes the window as soon as it is up (through Exit's path).
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
      if (auto* window = qobject_cast<CSenderDlg*>(QApplication::activeModalWidget())) window->reject();
    });
    closer.start(20);
    app.InitInstance();
    ResetRunOnceFlag();
    return HeadEndCodePage().Name();
  };
  SetHeadEndCodePage(CodePage::Utf8());
  EXPECT_EQ(run("cp936"), "CP936");
  SetHeadEndCodePage(CodePage::Utf8());
  EXPECT_EQ(run(std::nullopt), "CP936");  // kept from the start before
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(run("KLINGON"), "UTF-8");
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].text,
            "--codepage: unknown code page 'KLINGON'; the texts are read and written in the locale's code page UTF-8");
  unsetenv("LC_ALL");
}

// The window's command line, after Qt took its own options.
TEST(CodePageArgument, TakesTheLastCodePageOptionInEitherForm) {
  const QString program = QStringLiteral("iptv-sender");
  EXPECT_EQ(CodePageArgument({program}), std::nullopt);
  EXPECT_EQ(CodePageArgument({program, QStringLiteral("--codepage"), QStringLiteral("GBK")}), "GBK");
  EXPECT_EQ(CodePageArgument({program, QStringLiteral("--codepage=936")}), "936");
  EXPECT_EQ(CodePageArgument(
                {program, QStringLiteral("--codepage=BIG5"), QStringLiteral("--codepage"), QStringLiteral("gbk")}),
            "gbk");
  EXPECT_EQ(CodePageArgument({program, QStringLiteral("--codepage")}), "");  // refused as a name
}

}  // namespace
