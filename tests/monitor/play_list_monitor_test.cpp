// From packets to play lists: complete sets only, one list per new version,
// damage counted, and the printed forms.
#include "monitor/play_list_monitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../broadcast/test_support.h"
#include "broadcast/packetizer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The sections of the table as the encoder builds them.
std::vector<Bytes> AirSections(const std::vector<ProgramEntry>& programs, uint8_t version) {
  SectionBuffers buf{};
  uint8_t last = 0;
  BuildSection(buf, 0, last, 0, {programs.data(), static_cast<int>(programs.size()), version}, FixedClock());
  std::vector<Bytes> out;
  for (int k = 0; k <= last; ++k) out.emplace_back(buf[k], buf[k] + SectionTotalSize(buf[k]));
  return out;
}

std::vector<ProgramEntry> Table(int count) {
  std::vector<ProgramEntry> v;
  char name[32];
  for (int i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "program name %07d", i);  // 20 bytes: 27 programs a section
    v.push_back(MakeProgram(i + 1, name, "239.0.0.1", 1234, 0, 0));
  }
  return v;
}

struct Harness {
  std::vector<PlayList> lists;
  PlayListMonitor m{[this](const PlayList& l) { lists.push_back(l); }};
  uint8_t cc = 0;  // runs on across sections, as on the air
  std::vector<Bytes> Packets(const Bytes& section) {
    std::vector<Bytes> out;
    PacketizeSection(section.data(), cc, [&](const uint8_t* p) { out.emplace_back(p, p + 188); });
    return out;
  }
  void Feed(const std::vector<Bytes>& packets) {
    for (const Bytes& p : packets) m.Feed(p.data(), p.size());
  }
  void Send(const Bytes& section) { Feed(Packets(section)); }
  void SendAll(const std::vector<Bytes>& sections) {
    for (const Bytes& s : sections) Send(s);
  }
};

TEST(PlayListMonitor, ShowsEachNewVersionOnceWhenAllSectionsHaveCome) {
  const std::vector<ProgramEntry> table = Table(60);  // three sections
  const auto v4 = AirSections(table, 4);
  ASSERT_EQ(v4.size(), 3u);
  Harness h;
  // Rotation that starts in the middle: 1, 2, then 0 completes the set.
  h.Send(v4[1]);
  h.Send(v4[2]);
  EXPECT_TRUE(h.lists.empty());
  h.Send(v4[0]);
  ASSERT_EQ(h.lists.size(), 1u);
  EXPECT_EQ(h.lists[0].version, 4);
  EXPECT_EQ(h.lists[0].sections, 3);
  ASSERT_EQ(h.lists[0].programs.size(), 60u);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(h.lists[0].programs[i].nNumber, i + 1);
  // The same version again shows nothing new.
  h.SendAll(v4);
  EXPECT_EQ(h.lists.size(), 1u);
  // Sections 0 and 1 of version 5, then a change to version 6: the sets are
  // never mixed, and version 6 shows once all its own sections are in.
  const auto v5 = AirSections(table, 5);
  h.Send(v5[0]);
  h.Send(v5[1]);
  std::vector<ProgramEntry> changed = table;
  changed[59].nNumber = 999;
  const auto v6 = AirSections(changed, 6);
  h.Send(v6[2]);
  EXPECT_EQ(h.lists.size(), 1u);
  h.Send(v6[0]);
  h.Send(v6[1]);
  ASSERT_EQ(h.lists.size(), 2u);
  EXPECT_EQ(h.lists[1].version, 6);
  ASSERT_EQ(h.lists[1].programs.size(), 60u);
  EXPECT_EQ(h.lists[1].programs[59].nNumber, 999);
  const MonitorCounters c = h.m.Counters();
  EXPECT_EQ(c.playLists, 2u);
  EXPECT_EQ(c.versions, (std::vector<int>{4, 5, 6}));
  EXPECT_EQ(c.crcErrors + c.badSections + c.ts.continuityErrors, 0u);
}

TEST(PlayListMonitor, CountsDamageAndRecoversOnTheNextRound) {
  const std::vector<ProgramEntry> table = Table(40);  // two sections
  Harness h;
  const auto sections = AirSections(table, 1);
  ASSERT_EQ(sections.size(), 2u);
  auto p0 = h.Packets(sections[0]);
  p0[1][50] ^= 0x10;  // a bit error inside section 0's second packet
  h.Feed(p0);
  auto p1 = h.Packets(sections[1]);
  p1.erase(p1.begin() + 1);  // section 1 loses its second packet
  h.Feed(p1);
  EXPECT_TRUE(h.lists.empty());
  h.SendAll(sections);
  ASSERT_EQ(h.lists.size(), 1u);
  const MonitorCounters c = h.m.Counters();
  EXPECT_EQ(c.crcErrors, 1u);
  EXPECT_EQ(c.ts.continuityErrors, 1u);
}

TEST(PlayListMonitor, SpacingPercentiles) {
  struct Case {
    std::vector<double> values;
    Spacing want;
  };
  const Case cases[] = {
      {{}, {0, 0, 0, 0}},
      {{5}, {1, 5, 5, 5}},
      {{10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, {10, 1, 5, 9}},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, {11, 2, 6, 10}},
  };
  for (const Case& c : cases) {
    const Spacing s = SummariseSpacing(c.values);
    EXPECT_EQ(s.count, c.want.count);
    EXPECT_EQ(s.p10, c.want.p10);
    EXPECT_EQ(s.median, c.want.median);
    EXPECT_EQ(s.p90, c.want.p90);
  }
}

TEST(PlayListMonitor, ArrivalSpacingWithinSectionsLeavesOutSectionStarts) {
  const std::vector<ProgramEntry> table = Table(40);  // one section of several packets
  Harness h;
  h.m.KeepArrivals(true);
  int64_t t = 0;
  const Bytes section = AirSections(table, 0)[0];
  for (int round = 0; round < 3; ++round) {
    t += 50'000'000;  // 50 ms between sections
    for (const Bytes& p : h.Packets(section)) {
      h.m.Feed(p.data(), p.size(), t);
      t += 10'000'000;  // 10 ms between packets
    }
  }
  EXPECT_EQ(h.m.WithinSection().median, 10'000.0);
  EXPECT_EQ(h.m.WithinSection().p90, 10'000.0);
  EXPECT_EQ(h.m.AllPackets().p90, 60'000.0);
}

TEST(PlayListMonitor, PrintedForms) {
  PlayList l;
  l.version = 5;
  l.sections = 1;
  l.time = {24, 3, 9, 14, 5, 30, true};
  DecodedProgram p;
  p.nNumber = 101;
  p.nGroup = 2;
  p.address = 0xEF010203u;
  p.nPort = 1234;
  p.name = "a\"b\\c\x01\xE4\xB8\xAD";
  p.bHD = 1;
  l.programs.push_back(p);
  EXPECT_EQ(FormatPlayListJson(l),
            "{\"version\":5,\"sections\":1,\"time\":\"2024-03-09 14:05:30\",\"programs\":[{\"number\":101,"
            "\"group\":2,\"multicast\":\"239.1.2.3\",\"port\":1234,\"name\":\"a\\\"b\\\\c\\u0001\xE4\xB8\xAD\","
            "\"hd\":1}]}\n");
  EXPECT_EQ(FormatPlayListTable(l),
            "play list version 5, 1 section, 1 program, time 2024-03-09 14:05:30\n"
            "  Number  Group  Multicast         Port  HD  Name\n"
            "     101      2  239.1.2.3         1234   1  a\"b\\c\x01\xE4\xB8\xAD\n");
  MonitorCounters c;
  c.crcErrors = 2;
  c.versions = {3, 4};
  const std::string json = FormatCountersJson(c);
  EXPECT_NE(json.find("\"crc_errors\":2,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"versions\":[3,4]}"), std::string::npos) << json;
}

}  // namespace
