// The window's "Announce to PC Players (SAP)" entry: picked from the menu
// with the keyboard, kept in the per-user store, and heard on the SAP group.
// The window broadcasts, so this runs only inside a private namespace.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "../support/netns.h"
#include "../support/sap_listener.h"
#include "storage/interface_choice.h"
#include "table/program_table.h"
#include "window/sender_dlg.h"
#include "window_test_support.h"

namespace {

class SapSettingTest : public testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETNS();
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(listener.Ok());
    setenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit().constData(), 1);
    configPath = dir.filePath(QStringLiteral("config.txt")).toStdString();
    std::ofstream(configPath, std::ios::binary) << "IPTV multicast IP List\r\n@freq:10#\r\n@version:1#\r\n@index:1#\r\n"
                                                   "@mcast:1:News:239.10.0.1:5001:from the satellite:3:0#\r\n"
                                                   "@mcast:2:Sport:239.10.0.2:5002::4:1#\r\n@end#\r\n";
  }
  void TearDown() override { dlg.reset(); }

  void Open() {
    ResetProgramTable();
    ResetRunOnceFlag();
    g_dwSendAddr = 0;
    dlg = std::make_unique<CSenderDlg>(configPath, prompter);
    dlg->show();
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  }

  std::string Stored() const {
    std::ifstream in(dir.filePath(QStringLiteral("Kestavin/IPTV/AnnounceSap")).toStdString(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  // Opens the window's menu and picks the entry with Down and Enter; returns
  // whether it was checked when the menu opened.
  bool PickEntry() {
    bool wasChecked = false, picked = false;
    QTimer::singleShot(0, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      QAction* entry = menu->findChild<QAction*>(QStringLiteral("sapAction"));
      ASSERT_NE(entry, nullptr);
      wasChecked = entry->isChecked();
      for (int i = 0; i < 10 && menu->activeAction() != entry; ++i) QTest::keyClick(menu, Qt::Key_Down);
      picked = menu->activeAction() == entry;
      QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), dlg->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(dlg.get(), &event);
    EXPECT_TRUE(picked);
    return wasChecked;
  }

  // The names announced (or deleted: their count) among `count` messages.
  struct Heard {
    std::set<std::string> names;
    size_t deletions = 0;
  };
  Heard Hear(size_t count) {
    Heard h;
    for (const saptest::Message& m : listener.Take(count, 3000)) {
      if (m.deletion)
        ++h.deletions;
      else
        h.names.insert(saptest::Line(m.payload, 's'));
    }
    return h;
  }

  QTemporaryDir dir;
  std::string configPath;
  saptest::Listener listener;
  RecordingPrompter prompter;
  std::unique_ptr<CSenderDlg> dlg;
};

const std::set<std::string> kNames{"News", "Sport"};

TEST_F(SapSettingTest, TheMenuEntryTurnsTheAnnouncementsOnAndOffAndIsKeptForTheNextStart) {
  Open();
  EXPECT_FALSE(listener.Next(300).has_value()) << "off until the operator turns it on";

  EXPECT_FALSE(PickEntry());
  EXPECT_EQ(Stored(), "1");
  EXPECT_EQ(Hear(2).names, kNames);

  EXPECT_TRUE(PickEntry());
  EXPECT_EQ(Stored(), "0");
  EXPECT_EQ(Hear(2).deletions, 2u);

  // On again, then closed: the sessions go with the window, and the next
  // start announces them by itself.
  EXPECT_FALSE(PickEntry());
  EXPECT_EQ(Hear(2).names, kNames);
  dlg->done(0);
  EXPECT_EQ(Hear(2).deletions, 2u);
  dlg.reset();

  Open();
  EXPECT_EQ(Hear(2).names, kNames);
}

}  // namespace
