// Session announcements: the bytes of each packet, the sessions kept in step
// with the list, the pace, and the thread that sends them.
#include "broadcast/sap_announcer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "../e2e/air_support.h"
#include "broadcast/play_list_budget.h"
#include "support/sap_listener.h"
#include "text/code_page.h"

namespace {

const uint32_t kOrigin = inet_addr("10.77.0.1");

ProgramEntry Program(const std::string& name, const char* address, int port, int group,
                     const std::string& remark = "") {
  ProgramEntry e = MakeProgram(1, name, address, port, group, 0);
  CopyField(e.szNote, remark);
  return e;
}

std::vector<saptest::Message> Decoded(const std::vector<std::vector<uint8_t>>& packets) {
  std::vector<saptest::Message> out;
  for (const auto& p : packets) {
    auto m = saptest::Decode(p);
    EXPECT_TRUE(m.has_value());
    if (m) out.push_back(*m);
  }
  return out;
}

TEST(SapPacket, HeaderFieldsOfAnAnnouncementAndADeletion) {
  struct Case {
    sap::MessageType type;
    uint8_t first;
  } cases[] = {{sap::MessageType::Announce, 0x20}, {sap::MessageType::Delete, 0x24}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> p = sap::Packet(c.type, 0xBEEF, kOrigin, "v=0\r\n");
    const std::vector<uint8_t> head{c.first, 0x00, 0xBE, 0xEF, 10, 77, 0, 1};
    ASSERT_GE(p.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 8), head);
    EXPECT_EQ(std::string(p.begin() + 8, p.end()), std::string("application/sdp\0v=0\r\n", 21));
  }
}

TEST(SapSession, DescriptionLinesForEachKindOfProgram) {
  struct Case {
    const char* what;
    ProgramEntry program;
    std::string expected;
  } cases[] = {
      {"remark and group", Program("News 24", "239.1.2.3", 5000, 7, "from the satellite"),
       "v=0\r\no=- 262787607761800 3900000000 IN IP4 10.77.0.1\r\ns=News 24\r\ni=from the satellite\r\n"
       "c=IN IP4 239.1.2.3/128\r\nt=0 0\r\na=type:broadcast\r\na=cat:7\r\nm=video 5000 udp mpeg\r\n"},
      {"no remark, group 0", Program("Sport", "239.1.2.4", 1234, 0),
       "v=0\r\no=- 262787607823570 3900000000 IN IP4 10.77.0.1\r\ns=Sport\r\nc=IN IP4 239.1.2.4/128\r\nt=0 0\r\n"
       "a=type:broadcast\r\na=cat:0\r\nm=video 1234 udp mpeg\r\n"},
      {"empty name", Program("", "239.1.2.4", 1234, 0),
       "v=0\r\no=- 262787607823570 3900000000 IN IP4 10.77.0.1\r\ns= \r\nc=IN IP4 239.1.2.4/128\r\nt=0 0\r\n"
       "a=type:broadcast\r\na=cat:0\r\nm=video 1234 udp mpeg\r\n"},
  };
  for (const Case& c : cases) {
    const auto key = sap::KeyOf(c.program);
    ASSERT_TRUE(key) << c.what;
    EXPECT_EQ(sap::SessionDescription(c.program, *key, 3900000000u, kOrigin), c.expected) << c.what;
  }
}

TEST(SapSession, TheCharsetIsDeclaredOnlyForTextsThatAreNotUtf8) {
  struct Case {
    std::string name, remark, charset;
  } cases[] = {
      {"\xE6\x96\xB0\xE9\x97\xBB", "", ""},  // UTF-8: SDP's own default
      {"\xD0\xC2\xCE\xC5", "", "GB18030"},   // the same word in a legacy code page
      {"ok", "\xC0\xAF", "GB18030"},         // an overlong form in the remark
      {"ok", "\xED\xA0\x80", "GB18030"},     // a surrogate
  };
  for (const Case& c : cases) {
    const ProgramEntry e = Program(c.name, "239.9.9.9", 9000, 1, c.remark);
    const std::string sdp = sap::SessionDescription(e, *sap::KeyOf(e), 1, kOrigin, "GB18030");
    EXPECT_EQ(saptest::Attribute(sdp, "charset"), c.charset) << c.name << "/" << c.remark;
    EXPECT_EQ(saptest::Line(sdp, 's'), c.name);  // the bytes pass unchanged
  }
}

// In a GBK head end the texts go out as UTF-8, with no charset to declare.
TEST(SapSession, TextsOfAnotherCodePageGoOutAsUtf8) {
  std::string why;
  const std::optional<CodePage> gbk = CodePage::Named("GBK", &why);
  ASSERT_TRUE(gbk) << why;
  SetHeadEndCodePage(*gbk);
  const ProgramEntry e = Program("\xD0\xC2\xCE\xC5", "239.9.9.9", 9000, 1, "\xB1\xB8\xD7\xA2");
  const std::string sdp = sap::SessionDescription(e, *sap::KeyOf(e), 1, kOrigin);
  SetHeadEndCodePage(CodePage::Utf8());
  EXPECT_EQ(saptest::Line(sdp, 's'), "新闻");
  EXPECT_EQ(saptest::Line(sdp, 'i'), "备注");
  EXPECT_EQ(saptest::Attribute(sdp, "charset"), "");
}

TEST(SapSession, OnlyProgramsAPlayerCanOpenHaveASession) {
  struct Case {
    const char* address;
    int port;
    bool described;
  } cases[] = {{"239.1.1.1", 1, true},      {"224.0.0.1", 65535, true},      {"192.168.1.1", 5000, false},
               {"", 5000, false},           {"garbage", 5000, false},        {"239.1.1.1", 0, false},
               {"239.1.1.1", 65536, false}, {"255.255.255.255", 5000, false}};
  for (const Case& c : cases)
    EXPECT_EQ(sap::KeyOf(Program("x", c.address, c.port, 0)).has_value(), c.described) << c.address << ":" << c.port;
}

TEST(SapSession, AnIntervalOfFiveMinutesUntilTheBandwidthLimitStretchesIt) {
  EXPECT_EQ(sap::BaseIntervalMs(1, 200), 300000);
  EXPECT_EQ(sap::BaseIntervalMs(300, 500), 300000);       // 8 * 300 * 500 / 4000 = 300 s
  EXPECT_EQ(sap::BaseIntervalMs(300, 1000), 600000);      // 600 s
  EXPECT_EQ(sap::BaseIntervalMs(10, 1000, 100), 800000);  // a smaller limit
}

class SapScheduleTest : public testing::Test {
 protected:
  sap::Schedule schedule{kOrigin, 42};
  std::vector<ProgramEntry> list{Program("One", "239.0.0.1", 1001, 1), Program("Two", "239.0.0.2", 1002, 2, "r"),
                                 Program("Three", "239.0.0.3", 1003, 3)};
  std::vector<saptest::Message> Update(int64_t now, uint64_t version) {
    return Decoded(schedule.Update(list.data(), static_cast<int>(list.size()), now, version));
  }
};

TEST_F(SapScheduleTest, FollowsTheListAnnouncingNewSessionsAndDeletingOldOnes) {
  const auto first = Update(0, 100);
  ASSERT_EQ(first.size(), 3u);
  std::set<uint16_t> hashes;
  for (const auto& m : first) {
    EXPECT_FALSE(m.deletion);
    EXPECT_EQ(m.origin, "10.77.0.1");
    EXPECT_EQ(m.payloadType, "application/sdp");
    hashes.insert(m.hash);
  }
  EXPECT_EQ(hashes.size(), 3u) << "one hash per session";
  EXPECT_TRUE(Update(10, 101).empty()) << "the same list again changes nothing";

  // A new name: the old version is deleted, the new one has a new hash and
  // a higher version under the same session id.
  const saptest::Message oldTwo = first[1];
  CopyField(list[1].szName, "Two HD");
  const auto renamed = Update(20, 90);  // a wall clock that went back
  ASSERT_EQ(renamed.size(), 2u);
  EXPECT_TRUE(renamed[0].deletion);
  EXPECT_EQ(renamed[0].hash, oldTwo.hash);
  EXPECT_EQ(renamed[0].payload, "o=" + saptest::Line(oldTwo.payload, 'o') + "\r\n");
  EXPECT_FALSE(renamed[1].deletion);
  EXPECT_NE(renamed[1].hash, oldTwo.hash);
  EXPECT_EQ(saptest::Line(renamed[1].payload, 's'), "Two HD");
  EXPECT_EQ(saptest::Line(renamed[1].payload, 'o'), "- 262783279170538 101 IN IP4 10.77.0.1");

  // Gone from the list, a new address, an unusable one and a second program
  // on an announced stream: deletions first, then the one new session.
  list.erase(list.begin());
  CopyField(list[1].szMulticast, "239.0.0.33");
  list.push_back(Program("No port", "239.0.0.4", 0, 4));
  list.push_back(Program("Copy of Two", "239.0.0.2", 1002, 9));
  const auto changed = Update(30, 200);
  ASSERT_EQ(changed.size(), 3u);
  EXPECT_TRUE(changed[0].deletion && changed[1].deletion);
  EXPECT_FALSE(changed[2].deletion);
  EXPECT_EQ(saptest::Line(changed[2].payload, 'c'), "IN IP4 239.0.0.33/128");
  EXPECT_EQ(schedule.Sessions(), 2u);

  const auto farewell = Decoded(schedule.DeleteAll());
  ASSERT_EQ(farewell.size(), 2u);
  for (const auto& m : farewell) EXPECT_TRUE(m.deletion);
}

TEST_F(SapScheduleTest, RepeatsEachAnnouncementAtTheIntervalWithItsRandomShare) {
  Update(0, 1);
  // The earliest repetition comes at two thirds of five minutes, the latest
  // at four thirds; between them each session is sent once.
  EXPECT_TRUE(schedule.Due(199999).empty());
  EXPECT_GE(schedule.NextDueMs(), 200000);
  size_t sent = 0;
  for (int64_t t = 200000; t <= 400000; t += 1000) sent += schedule.Due(t).size();
  EXPECT_EQ(sent, 3u);
  EXPECT_GE(schedule.NextDueMs(), 400000);
  EXPECT_LE(schedule.NextDueMs(), 800000);
}

// A socket that keeps what it is given.
class RecordingSocket : public DatagramSocket {
 public:
  bool Open(uint32_t) override { return true; }
  int SendTo(const uint8_t* data, size_t len, const sockaddr_in& dest) override {
    std::lock_guard lock(m_mutex);
    EXPECT_EQ(dest.sin_addr.s_addr, inet_addr("224.2.127.254"));
    EXPECT_EQ(ntohs(dest.sin_port), 9875);
    m_sent.emplace_back(data, data + len);
    return static_cast<int>(len);
  }
  void ShutdownAndClose() override {}
  std::vector<saptest::Message> WaitFor(size_t count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
      {
        std::lock_guard lock(m_mutex);
        if (m_sent.size() >= count) return Decoded(m_sent);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::lock_guard lock(m_mutex);
    return Decoded(m_sent);
  }

 private:
  std::mutex m_mutex;
  std::vector<std::vector<uint8_t>> m_sent;
};

TEST(SapAnnouncerThread, AnnouncesTheListOnTheAirFollowsItsChangesAndDeletesAtTheStop) {
  // Seven sections' worth: the programs past the sixth are not on the air,
  // and are not announced either.
  std::vector<ProgramEntry> table = TableOfSections(7);
  SetTable(table, 0, true);
  const int onAir = MeasurePlayList(table.data(), static_cast<int>(table.size())).OnAir();
  ASSERT_LT(onAir, static_cast<int>(table.size()));

  RecordingSocket socket;
  SapAnnouncer announcer(socket);
  announcer.Start(kOrigin);
  auto sent = socket.WaitFor(static_cast<size_t>(onAir));
  ASSERT_EQ(sent.size(), static_cast<size_t>(onAir));
  for (int i = 0; i < onAir; ++i) {
    EXPECT_FALSE(sent[static_cast<size_t>(i)].deletion);
    EXPECT_EQ(saptest::Line(sent[static_cast<size_t>(i)].payload, 's'), table[static_cast<size_t>(i)].szName);
  }

  // One program fewer on the air: its deletion, and the program that now
  // fits moves onto the air.
  uint16_t firstHash = 0;
  for (const auto& m : sent)
    if (saptest::Line(m.payload, 's') == table[0].szName) firstHash = m.hash;
  table.erase(table.begin());
  SetTable(table, 0, true);
  announcer.ListChanged();
  sent = socket.WaitFor(static_cast<size_t>(onAir) + 2);
  ASSERT_EQ(sent.size(), static_cast<size_t>(onAir) + 2);
  EXPECT_TRUE(sent[static_cast<size_t>(onAir)].deletion);
  EXPECT_EQ(sent[static_cast<size_t>(onAir)].hash, firstHash);
  EXPECT_FALSE(sent.back().deletion);
  EXPECT_EQ(saptest::Line(sent.back().payload, 's'), table[static_cast<size_t>(onAir - 1)].szName);

  announcer.Stop();
  sent = socket.WaitFor(0);
  ASSERT_EQ(sent.size(), 2 * static_cast<size_t>(onAir) + 2);
  for (size_t i = static_cast<size_t>(onAir) + 2; i < sent.size(); ++i) EXPECT_TRUE(sent[i].deletion);
  EXPECT_EQ(announcer.Sent(), sent.size());
  EXPECT_FALSE(announcer.Running());
  ResetProgramTable();
}

}  // namespace
