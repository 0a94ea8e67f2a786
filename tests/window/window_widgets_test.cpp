// The window's building blocks on their own: the log pane, the address
// field, the program list model and the message boxes.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>
#include <thread>

#include "window/dialog_units.h"
#include "window/ip_address_edit.h"
#include "window/log_pane.h"
#include "window/program_list_model.h"
#include "window/qt_prompter.h"
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

// The address field between two edits, as in a form: the operator tabs in
// from the edit before it and types; every key goes to the focused widget.
class IpAddressTypingTest : public testing::Test {
 protected:
  void SetUp() override {
    auto* layout = new QHBoxLayout(&host);
    before = new QLineEdit(&host);
    ctrl = new CIpAddressCtrl(&host);
    after = new QLineEdit(&host);
    layout->addWidget(before);
    layout->addWidget(ctrl);
    layout->addWidget(after);
    host.show();
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
  }

  // Shows `dotted` ("" for a blank field), then tabs in from the edit before.
  void TabIn(const char* dotted) {
    ctrl->ClearAddress();
    const QStringList parts = QString::fromLatin1(dotted).split(QLatin1Char('.'));
    if (parts.size() == 4)
      for (int i = 0; i < 4; ++i) ctrl->Field(i)->setText(parts[i]);
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
  }

  // '<' stands for Backspace, '^' for Shift pressed alone (as before a dot
  // on layouts that shift it).
  static void Type(const char* keys) {
    for (const char* k = keys; *k != '\0'; ++k) {
      if (*k == '<')
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
      else if (*k == '^')
        QTest::keyPress(QApplication::focusWidget(), Qt::Key_Shift);
      else
        QTest::keyClick(QApplication::focusWidget(), *k);
    }
  }
  static void Paste() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier); }

  // The four parts as shown, joined by dots.
  QString Shown() const {
    QStringList parts;
    for (int i = 0; i < 4; ++i) parts << ctrl->Field(i)->text();
    return parts.join(QLatin1Char('.'));
  }

  QWidget host;
  QLineEdit* before = nullptr;
  CIpAddressCtrl* ctrl = nullptr;
  QLineEdit* after = nullptr;
};

TEST_F(IpAddressTypingTest, TypedAddressesReplaceWhatTheFieldShows) {
  const struct {
    const char* shown;
    const char* keys;
    const char* expected;
    int refused;
  } cases[] = {
      // A third digit moves on; the dot typed after it does not move again.
      {"224.2.2.1", "239.10.20.30", "239.10.20.30", 0},
      {"239.5.5.5", "239.10.20.30", "239.10.20.30", 0},
      {"239.1.1.1", "239.1.1.1", "239.1.1.1", 0},
      {"", "239.10.20.30", "239.10.20.30", 0},
      {"", "239.1.1.1", "239.1.1.1", 0},
      {"224.2.2.1", "239^.1^.2^.3", "239.1.2.3", 0},
      {"224.2.2.1", "1.2.3.4", "1.2.3.4", 0},
      // A second dot does move on, leaving the part as it was.
      {"224.2.2.1", "239..5", "239.2.5.1", 0},
      // A digit that would pass 255 is refused and carried nowhere.
      {"224.2.2.1", "300.1", "30.1.2.1", 1},
      {"", "256.7", "25.7..", 1},
      {"", "2555", "255.5..", 0},
      {"", "1a.2", "1.2..", 1},
      // Backspace empties a selected part, and at the start of a part goes
      // back to the end of the one before.
      {"224.2.2.1", "239<7", "239.7.2.1", 0},
      {"", "1.2<<5", "15...", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("over '") + c.shown + "' typed '" + c.keys + "'");
    QSignalSpy refused(ctrl, &CIpAddressCtrl::EntryRefused);
    TabIn(c.shown);
    Type(c.keys);
    EXPECT_EQ(Shown(), QString::fromLatin1(c.expected));
    EXPECT_EQ(refused.count(), c.refused);
  }
}

TEST_F(IpAddressTypingTest, IsOneTabStopFromEveryPart) {
  for (const char* keys : {"", "1.", "1.2.", "1.2.3."}) {
    SCOPED_TRACE(std::string("after '") + keys + "'");
    TabIn("");
    Type(keys);
    const int part = static_cast<int>(std::string(keys).size() / 2);
    EXPECT_EQ(QApplication::focusWidget(), ctrl->Field(part));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), after);

    TabIn("");
    Type(keys);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), before);
  }
}

TEST_F(IpAddressTypingTest, PastingAWholeAddressFillsAllFourParts) {
  QSignalSpy refused(ctrl, &CIpAddressCtrl::EntryRefused);
  TabIn("224.2.2.1");
  Type("1.");  // into the second part
  QApplication::clipboard()->setText(QStringLiteral(" 239.10.20.30 "));
  Paste();
  EXPECT_EQ(Shown(), QStringLiteral("239.10.20.30"));
  EXPECT_EQ(refused.count(), 0);

  // Anything else with a dot is refused whole.
  for (const char* text : {"239.10.20.256", "1.2.3", "1.2.3.4.5", "1.2..4", "a.b.c.d"}) {
    SCOPED_TRACE(text);
    QApplication::clipboard()->setText(QString::fromLatin1(text));
    Paste();
    EXPECT_EQ(Shown(), QStringLiteral("239.10.20.30"));
  }
  EXPECT_EQ(refused.count(), 5);

  // A lone number goes into the part like typed digits, 255 at most.
  TabIn("239.10.20.30");
  QApplication::clipboard()->setText(QStringLiteral("12"));
  Paste();
  EXPECT_EQ(Shown(), QStringLiteral("12.10.20.30"));
  TabIn("239.10.20.30");
  QApplication::clipboard()->setText(QStringLiteral("300"));
  Paste();
  EXPECT_EQ(Shown(), QStringLiteral("239.10.20.30"));
  EXPECT_EQ(refused.count(), 6);

  // The part's own context menu pastes the same way.
  QApplication::clipboard()->setText(QStringLiteral("10.0.0.1"));
  QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(2, 2), ctrl->Field(2)->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(ctrl->Field(2), &menuKey);
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  QAction* paste = nullptr;
  for (QAction* action : menu->actions())
    if (action->text().startsWith(QLineEdit::tr("&Paste"))) paste = action;
  ASSERT_NE(paste, nullptr);
  paste->trigger();
  menu->close();
  EXPECT_EQ(Shown(), QStringLiteral("10.0.0.1"));
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

// Texts that look like markup (a key quoted from the file) show as they are,
// and a short box is still wide enough for its caption in the title bar,
// beside the window icon and the title bar's buttons.
TEST(QtPrompterTest, ShowsTextsAsTheyAreInBoxesWideEnoughForTheirCaption) {
  QtPrompter prompter;
  struct Seen {
    QString caption, text;
    Qt::TextFormat format = Qt::AutoText;
    int width = 0;
  };
  std::vector<Seen> seen;
  auto inspectNextBox = [&] {
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
      ASSERT_NE(label, nullptr);
      seen.push_back({box->windowTitle(), label->text(), label->textFormat(), box->width()});
      QTest::keyClick(box, Qt::Key_Escape);
    });
  };
  inspectNextBox();
  prompter.ShowMessage("未知格式:<b>x</b>");
  inspectNextBox();
  EXPECT_FALSE(prompter.AskOkCancel("<i>239.1.1.1</i>:1234:has been exist, are you sure to add it?", "Warning"));
  inspectNextBox();
  prompter.ShowMessage("Delete Fail");

  ASSERT_EQ(seen.size(), 3u);
  const char* const texts[] = {"未知格式:<b>x</b>", "<i>239.1.1.1</i>:1234:has been exist, are you sure to add it?",
                               "Delete Fail"};
  QFont title = QApplication::font();
  title.setBold(true);
  for (size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(texts[i]);
    EXPECT_EQ(seen[i].text, QString::fromUtf8(texts[i]));
    EXPECT_EQ(seen[i].format, Qt::PlainText);
    EXPECT_GE(seen[i].width, QFontMetrics(title).horizontalAdvance(seen[i].caption) + 100);
  }
  EXPECT_EQ(seen[1].caption, QStringLiteral("Warning"));
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
