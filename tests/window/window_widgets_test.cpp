// The window's building blocks on their own: the log pane, the address
// field and the program list model.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <string>
#include <thread>

#include "window/dialog_units.h"
#include "window/ip_address_edit.h"
#include "window/log_pane.h"
#include "window/program_list_model.h"
#include "window/sender_app.h"
#include "window_test_support.h"

namespace {

// A cycle's line as the loop writes it: fits the pane's width.
constexpr const char* kLine = "play list:update,section(01):1,7,len:175,sent:188,\r\n";

// The pane at its size in the window, in the window's font.
class LogPaneTest : public testing::Test {
 protected:
  void SetUp() override {
    g_bStopPrint = 0;
    const QFont font = DialogFont();
    const DialogUnits du(font);
    edit.setFont(font);
    edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit.setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    edit.resize(du.Size(395, 65));
    edit.show();
    button.setText(QStringLiteral("Stop Print"));
  }
  void TearDown() override { g_bStopPrint = 0; }

  void Append(const char* line) {
    pane.AppendLog(line, CycleFields{});
    pane.Flush();
  }

  QPlainTextEdit edit;
  QPushButton button;
  LogPane pane{&edit, &button};
};

TEST_F(LogPaneTest, EmptiesItselfWhenTheTwentiethLineArrives) {
  EXPECT_EQ(pane.DisplayedLineCount(), 1);  // an empty pane counts one line
  for (int i = 1; i <= 19; ++i) Append(kLine);
  EXPECT_EQ(pane.DisplayedLineCount(), 20);  // 19 lines and the empty one after the last break
  EXPECT_EQ(edit.toPlainText().count(QLatin1Char('\n')), 19);
  EXPECT_FALSE(edit.toPlainText().contains(QLatin1Char('\r')));

  Append(kLine);  // the 20th pushes the count past 20
  EXPECT_TRUE(edit.toPlainText().isEmpty());

  Append(kLine);  // and the 21st starts again on an empty pane
  EXPECT_EQ(edit.toPlainText(), QStringLiteral("play list:update,section(01):1,7,len:175,sent:188,\n"));
}

TEST_F(LogPaneTest, AWrappedLineCountsOncePerRow) {
  const std::string wide = std::string(400, 'x') + "\r\n";
  Append(wide.c_str());
  const int rows = pane.DisplayedLineCount() - 1;
  ASSERT_GE(rows, 2);
  while (pane.DisplayedLineCount() < 20) Append(kLine);
  EXPECT_EQ(pane.DisplayedLineCount(), 20);
  EXPECT_EQ(edit.toPlainText().count(QLatin1Char('\n')), 20 - rows);
  Append(kLine);
  EXPECT_TRUE(edit.toPlainText().isEmpty());
}

TEST_F(LogPaneTest, LinesFromAnotherThreadArriveInOrderAfterTypedText) {
  edit.setPlainText(QStringLiteral("typed"));
  std::thread loop([this] {
    pane.AppendLog("a\r\n", CycleFields{});
    pane.AppendLog("b\r\n", CycleFields{});
    pane.AppendLog("c\r\n", CycleFields{});
  });
  loop.join();
  EXPECT_EQ(edit.toPlainText(), QStringLiteral("typed"));  // handed over, not yet shown
  pane.Flush();
  EXPECT_EQ(edit.toPlainText(), QStringLiteral("typeda\nb\nc\n"));
}

TEST_F(LogPaneTest, StopPrintDropsLinesUntilResumedAndClearStillWorks) {
  const char* const captions[] = {"Stop", "Running", "Stop", "Running", "Stop"};
  EXPECT_EQ(button.text(), QStringLiteral("Stop Print"));

  Append("before\r\n");
  pane.OnStopPrint();
  EXPECT_EQ(button.text(), QString::fromLatin1(captions[0]));
  EXPECT_NE(g_bStopPrint.load(), 0);
  Append("lost\r\n");
  EXPECT_EQ(edit.toPlainText(), QStringLiteral("before\n"));
  pane.OnClear();
  Append("lost too\r\n");
  EXPECT_TRUE(edit.toPlainText().isEmpty());

  pane.OnStopPrint();
  EXPECT_EQ(button.text(), QString::fromLatin1(captions[1]));
  EXPECT_EQ(g_bStopPrint.load(), 0);
  Append("after\r\n");
  EXPECT_EQ(edit.toPlainText(), QStringLiteral("after\n"));  // the dropped lines never come back

  for (int i = 2; i < 5; ++i) {
    pane.OnStopPrint();
    EXPECT_EQ(button.text(), QString::fromLatin1(captions[i])) << "click " << i + 1;
  }
}

TEST(IpAddressCtrlTest, ReadsSetsAndReportsBlank) {
  CIpAddressCtrl ctrl;
  EXPECT_TRUE(ctrl.IsBlank());
  EXPECT_EQ(ctrl.GetAddress(), 0u);

  ctrl.SetAddress(0xE0020201);
  const char* const octets[] = {"224", "2", "2", "1"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ctrl.Field(i)->text(), QString::fromLatin1(octets[i]));
  EXPECT_FALSE(ctrl.IsBlank());
  EXPECT_EQ(ctrl.GetAddress(), 0xE0020201u);

  // A partly filled address is not blank; its empty boxes read as 0.
  ctrl.ClearAddress();
  ctrl.Field(1)->setText(QStringLiteral("7"));
  EXPECT_FALSE(ctrl.IsBlank());
  EXPECT_EQ(ctrl.GetAddress(), 0x00070000u);
}

TEST(IpAddressCtrlTest, TypingKeepsEachBoxWithinAnOctet) {
  CIpAddressCtrl ctrl;
  ctrl.show();
  ctrl.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&ctrl));
  ctrl.setFocus();
  // Each key goes where the focus is, as the operator's keys do.
  auto type = [](const char* keys) {
    for (const char* k = keys; *k != '\0'; ++k) QTest::keyClick(QApplication::focusWidget(), *k);
  };
  type("300");  // above 255 becomes 255; three digits move on to the next box
  EXPECT_EQ(ctrl.Field(0)->text(), QStringLiteral("255"));
  type("1a.2");  // letters are refused, the dot moves on
  EXPECT_EQ(ctrl.Field(1)->text(), QStringLiteral("1"));
  EXPECT_EQ(ctrl.Field(2)->text(), QStringLiteral("2"));
  EXPECT_TRUE(ctrl.Field(3)->text().isEmpty());
  EXPECT_EQ(ctrl.GetAddress(), 0xFF010200u);
}

TEST(ProgramListModelTest, ShowsTheRowsItIsGivenUnderTheEightHeadings) {
  ProgramListModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);

  const char* const headings[] = {"NO.", "Number", "Name", "Multicast", "Port", "Remark", "Group", "is HD"};
  const int widths[] = {25, 50, 220, 110, 60, 100, 50, 80};
  ASSERT_EQ(model.columnCount(), 8);
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(headings[c]));
    EXPECT_EQ(ProgramListModel::HeadingWidth(c), widths[c]);
  }
  EXPECT_EQ(model.rowCount(), 0);

  model.SetRows({{"1", "101", "新闻", "239.1.1.1", "1234", "r", "1", "1"},
                 {"2", "102", "Sport", "239.1.1.2", "1234", "", "2", "0"}});
  ASSERT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.data(model.index(0, 2)).toString(), QString::fromUtf8("新闻"));
  EXPECT_EQ(model.data(model.index(1, 7)).toString(), QStringLiteral("0"));
  // The first column left-aligned, the others centred.
  EXPECT_EQ(model.data(model.index(0, 0), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask,
            Qt::AlignLeft);
  EXPECT_EQ(model.data(model.index(0, 3), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask,
            Qt::AlignHCenter);

  model.SetRows({});
  EXPECT_EQ(model.rowCount(), 0);
}

TEST(DialogFontTest, RendersChineseWithASongStyleFace) {
  const QFont font = DialogFont();
  EXPECT_EQ(font.pointSize(), 9);
  const QFontMetrics metrics(font);
  for (const char* text : {"宋", "请填入一个正整数", "关于"}) {
    for (QChar c : QString::fromUtf8(text)) EXPECT_TRUE(metrics.inFont(c)) << text;
  }
}

TEST(SenderAppTest, WithoutSocketsOnlyTheStartupFailureIsShown) {
  RecordingPrompter prompter;
  CSenderApp app;
  app.m_socketsAvailable = [] { return false; };
  app.m_startupPrompter = &prompter;
  EXPECT_FALSE(app.InitInstance());
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].text, "Windows 通信端口初始化失败。");
  EXPECT_EQ(prompter.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

}  // namespace
