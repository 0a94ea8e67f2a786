// What the window tells the operator about the air itself: a lost route is
// shown in the status label with the system's reason and in the log pane,
// and so is its return; a stored interface that is not here falls back to
// Default and says so. Inside the private namespace with the veth pair,
// where the multicast route runs through vt0.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <memory>

#include "../support/netns.h"
#include "dlg_fixture.h"
#include "storage/interface_choice.h"
#include "table/program_table.h"
#include "window/log_pane.h"
#include "window/sender_dlg.h"

namespace {

class AirStatusTest : public DlgFixture {
 protected:
  void SetUp() override {
    DlgFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (if_nametoindex("vt0") == 0) GTEST_SKIP() << "no veth pair (run with --veth)";
  }
  void TearDown() override {
    DlgFixture::TearDown();
    g_bStopPrint = 0;
    // Put the route back whatever the test did with it.
    (void)std::system("ip route replace 224.0.0.0/4 dev vt0 2>/dev/null");
  }
  QString Label() const { return Find<QLabel>("airStatusLabel")->text(); }
  QString Pane() const { return Find<QPlainTextEdit>("logPane")->toPlainText(); }
};

TEST_F(AirStatusTest, ALostRouteAndItsReturnShowInTheLabelAndThePane) {
  Open();
  EXPECT_EQ(Label(), QStringLiteral("On air"));
  // The operator stops the cycle lines and clears the pane: what comes now
  // is the window's own.
  QTest::mouseClick(Find<QPushButton>("stopPrintButton"), Qt::LeftButton);
  QTest::qWait(2 * LogPane::FLUSH_MS);
  QTest::mouseClick(Find<QPushButton>("clearButton"), Qt::LeftButton);
  ASSERT_EQ(Pane(), QString());

  ASSERT_EQ(std::system("ip route del 224.0.0.0/4 dev vt0"), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Label().contains(QStringLiteral("Network is unreachable")); }, 10000))
      << Label().toStdString();
  EXPECT_EQ(Label(), QStringLiteral("Air LOST: Network is unreachable"));
  EXPECT_EQ(Pane(), QStringLiteral("the play list cannot be sent to 224.1.1.1:10001: Network is unreachable; the "
                                   "broadcast goes on and tries every cycle\n"));

  ASSERT_EQ(std::system("ip route add 224.0.0.0/4 dev vt0"), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Label() == QStringLiteral("On air"); }, 10000)) << Label().toStdString();
  const QStringList lines = Pane().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2) << Pane().toStdString();
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("the play list is sent to 224.1.1.1:10001 again, after ")))
      << lines[1].toStdString();
}

TEST_F(AirStatusTest, AStoredInterfaceThatIsNotHereFallsBackToDefaultAndSaysSo) {
  CRegistryValue store;
  ASSERT_TRUE(store.WriteString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, IPTV_VALUE_NAME, "10.99.99.99"));
  // Printing stopped from the start, so the cycle lines do not push the
  // notice out of the pane before it is looked at.
  g_bStopPrint = 1;
  Open();
  EXPECT_EQ(Find<QComboBox>("interfaceList")->currentIndex(), 0);
  EXPECT_EQ(g_dwSendAddr, 0u);
  EXPECT_EQ(Label(), QStringLiteral("On air\nInterface: Default (10.99.99.99 is not here)"));
  EXPECT_EQ(Pane(), QStringLiteral("the stored send interface 10.99.99.99 is not offered here; the play list goes "
                                   "out through Default\n"));
}

}  // namespace
