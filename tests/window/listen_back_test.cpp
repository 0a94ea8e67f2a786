// The listen-back panel as the operator meets it: it shows the version a
// set-top box sees, turns to an alarm naming a second sender on the group,
// marks a program the six sections leave out, and tells while the operator
// types whether the program would still fit. The window broadcasts, so this
// runs inside a private network namespace with the veth pair.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../e2e/air_support.h"
#include "../support/netns.h"
#include "broadcast/play_list_budget.h"
#include "dlg_fixture.h"
#include "storage/interface_choice.h"
#include "window/log_pane.h"
#include "window/program_list_model.h"
#include "window/sender_dlg.h"

namespace {

// Another head end sending its own list to the group from 10.77.0.2.
class StrangeSender {
 public:
  explicit StrangeSender(std::vector<ProgramEntry> programs) : m_programs(std::move(programs)) {}
  ~StrangeSender() { Stop(); }
  bool Start() {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr("10.77.0.2");
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return false;
    // Out of vt0 like our own list, so the looped-back copy reaches the
    // receivers here with its own source address.
    in_addr out{};
    out.s_addr = inet_addr("10.77.0.1");
    if (::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &out, sizeof out) != 0) return false;
    m_thread = std::thread([this] { Run(); });
    return true;
  }
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

 private:
  void Run() {
    const sockaddr_in dest = PlayListDestination();
    FixedClock clock;
    uint8_t continuity = 0;
    while (!m_stop) {
      SectionBuffers buf{};
      uint8_t last = 0;
      BuildSection(buf, 0, last, 0, {m_programs.data(), static_cast<int>(m_programs.size()), 9}, clock);
      for (int k = 0; k <= last; ++k)
        PacketizeSection(buf[k], continuity, [&](const uint8_t* packet) {
          (void)::sendto(m_fd, packet, wire::TS_PACKET_SIZE, 0, reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
        });
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::vector<ProgramEntry> m_programs;
  int m_fd = -1;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

class ListenBackTest : public DlgFixture {
 protected:
  void Open(const std::vector<std::string>& programLines) {
    std::string bytes = "IPTV multicast IP List\r\n@freq:10#\r\n@version:3#\r\n@index:1#\r\n";
    for (const std::string& line : programLines) bytes += "@mcast:" + line + "#\r\n";
    WriteFile(configPath, bytes + "@end#\r\n");
    DlgFixture::Open();
  }

  QString Label(const char* name) const { return Find<QLabel>(name)->text(); }
  bool Alarm(const char* name) const { return Find<QLabel>(name)->property("alarm").toBool(); }

  // Waits (bounded) for a label to hold `part`, the window handling its
  // events meanwhile.
  testing::AssertionResult LabelShows(const char* name, const QString& part, int ms = 10000) {
    if (QTest::qWaitFor([&] { return Label(name).contains(part); }, ms)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << name << " shows \"" << Label(name).toStdString() << "\", not \""
                                       << part.toStdString() << "\"";
  }

  void Type(const char* name, const QString& text) { TypeOver(name, text); }

  // The version the panel shows, -1 when it shows none.
  int PanelVersion() const {
    const QString text = Label("airLabel");
    if (!text.startsWith(QStringLiteral("Version "))) return -1;
    return text.section(QLatin1Char(' '), 1, 1).toInt();
  }
  // Waits (bounded) until the panel shows the version of the latest list a
  // set-top box completed; the window handles its events meanwhile.
  testing::AssertionResult PanelFollowsTheAir(AirReceiver& air, int notVersion = -1) {
    const bool ok =
        AirShows(air, [&](const PlayList& l) { return l.version != notVersion && PanelVersion() == l.version; });
    if (ok) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "the panel shows \"" << Label("airLabel").toStdString()
                                       << "\"; on the air: " << (air.lists.empty() ? -1 : air.lists.back().version);
  }
};

TEST_F(ListenBackTest, ShowsTheVersionOnTheAirAndAlarmsOnASecondSender) {
  AirReceiver air;
  ASSERT_TRUE(air.Open()) << air.error;
  Open({"1:One:239.1.1.1:1234:r:1:0", "2:Two:239.1.1.2:1234:r:1:1", "3:Three:239.1.1.3:1234:r:2:0"});

  ASSERT_TRUE(PanelFollowsTheAir(air));
  EXPECT_TRUE(LabelShows("airLabel", QStringLiteral("3 of 3 programs, as in the table")));
  EXPECT_TRUE(LabelShows("senderLabel", QStringLiteral("One sender on the group: 10.77.0.1")));
  EXPECT_FALSE(Alarm("senderLabel"));
  EXPECT_TRUE(LabelShows("checksLabel", QStringLiteral("CRC errors 0, continuity errors 0, send failures 0")));

  // Force Update puts the next version on the air; the panel follows the air.
  const int before = PanelVersion();
  QTest::mouseClick(Find<QPushButton>("forceUpdateButton"), Qt::LeftButton);
  ASSERT_TRUE(PanelFollowsTheAir(air, before));
  const int version = PanelVersion();
  EXPECT_EQ(version, NextVersion(static_cast<uint8_t>(before)));

  // Another sender joins the group with another list under version 9.
  StrangeSender stranger({MakeProgram(7, "Elsewhere", "239.9.9.9", 5000, 0, 0)});
  ASSERT_TRUE(stranger.Start());
  EXPECT_TRUE(LabelShows("senderLabel", QStringLiteral("ALARM: another sender on the group: 10.77.0.2")));
  EXPECT_TRUE(Alarm("senderLabel"));
  // Our own list is still the one shown.
  EXPECT_EQ(PanelVersion(), version);
  stranger.Stop();
}

TEST_F(ListenBackTest, AProgramThatDoesNotFitIsMarkedAndTheFormTellsBeforeTheClick) {
  // 36 programs with 127-byte names fill the six sections; the 37th is left out.
  const std::string longName(127, 'L');
  std::vector<std::string> lines;
  for (int i = 1; i <= 37; ++i)
    lines.push_back(std::to_string(i) + ":" + longName + ":239.2.0." + std::to_string(i) + ":1234:r:0:0");
  Open(lines);

  auto* list = Find<QTableView>("programList");
  const QAbstractItemModel* model = list->model();
  ASSERT_EQ(model->rowCount(), 37);
  EXPECT_TRUE(LabelShows("airLabel", QStringLiteral("36 of 37 programs, 1 left out")));
  EXPECT_TRUE(QTest::qWaitFor([&] { return model->index(0, 0).data(ProgramListModel::AirRole).toInt() == 0; }, 5000));
  const QModelIndex last = model->index(36, 2);
  EXPECT_EQ(last.data(ProgramListModel::AirRole).toInt(), 1);
  EXPECT_EQ(last.data(Qt::DisplayRole).toString(), QString::fromStdString(longName));  // the text stays exact
  EXPECT_TRUE(last.data(Qt::ForegroundRole).value<QColor>().isValid());
  EXPECT_FALSE(model->index(35, 2).data(Qt::ForegroundRole).isValid());

  // The budget: six sections of 20 + 6 * 144 + 4 bytes.
  EXPECT_EQ(Find<QProgressBar>("budgetBar")->value(), 6 * 888);
  EXPECT_TRUE(Label("budgetLabel").startsWith(QStringLiteral("Play list: 5328 of 6144 bytes, 6 of 6 sections")));

  // While the operator types: a long name no longer fits, a short one does.
  Type("numberEdit", QStringLiteral("100"));
  Type("nameEdit", QString::fromStdString(longName));
  EXPECT_TRUE(Label("formFitLabel").startsWith(QStringLiteral("Add: does not fit")))
      << Label("formFitLabel").toStdString();
  EXPECT_TRUE(Alarm("formFitLabel"));
  prompter.messages.clear();  // the load's notice of the program left out
  QTest::mouseClick(Find<QPushButton>("addButton"), Qt::LeftButton);
  ASSERT_EQ(prompter.messages.size(), 1u);  // Add refuses what the panel said
  EXPECT_EQ(prompter.messages[0].text.rfind("The play list is full", 0), 0u) << prompter.messages[0].text;
  EXPECT_EQ(model->rowCount(), 37);

  // Row 1 made short leaves room for all: the form says so before Modify,
  // and once the list is on the air the last row is no longer marked.
  ClickRow(0);
  Type("nameEdit", QStringLiteral("x"));
  EXPECT_TRUE(Label("formFitLabel").contains(QStringLiteral("Modify row 1: fits")))
      << Label("formFitLabel").toStdString();
  QTest::mouseClick(Find<QPushButton>("modifyButton"), Qt::LeftButton);
  EXPECT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(model->index(0, 2).data().toString(), QStringLiteral("x"));
  EXPECT_TRUE(LabelShows("airLabel", QStringLiteral("37 of 37 programs, as in the table")));
  EXPECT_EQ(model->index(36, 2).data(ProgramListModel::AirRole).toInt(), 0);
  // Six headers and CRCs of 24 bytes, 17 + 1 bytes for "x", 36 * 144 for the rest.
  EXPECT_TRUE(Label("budgetLabel").startsWith(QStringLiteral("Play list: 5346 of 6144 bytes, 6 of 6 sections")))
      << Label("budgetLabel").toStdString();
}

}  // namespace
