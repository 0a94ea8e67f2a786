// From packets to play lists: complete sets only, one list per new version,
// damage counted, every source apart, conflicts, the checks, and the printed
// forms.
#include "monitor/play_list_monitor.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "../broadcast/test_support.h"
#include "broadcast/packetizer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The sections of the table as the encoder builds them.
std::vector<Bytes> AirSections(const std::vector<ProgramEntry>& programs, uint8_t version,
                               const Clock& clock = FixedClock()) {
  SectionBuffers buf{};
  uint8_t last = 0;
  BuildSection(buf, 0, last, 0, {programs.data(), static_cast<int>(programs.size()), version}, clock);
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

std::vector<DecodedProgram> OnAir(const std::vector<ProgramEntry>& table) {
  std::vector<DecodedProgram> out;
  for (const ProgramEntry& e : table) {
    DecodedProgram p;
    p.nNumber = static_cast<uint16_t>(e.nNumber);
    p.nGroup = static_cast<uint16_t>(e.nGroup);
    p.address = ntohl(inet_addr(e.szMulticast));
    p.nPort = static_cast<uint16_t>(e.nPort);
    p.name = e.szName;
    p.bHD = e.bHD;
    out.push_back(p);
  }
  return out;
}

uint32_t Addr(const char* dotted) { return inet_addr(dotted); }

// A sender as the monitor sees it: its address and its continuity counter.
struct Sender {
  uint32_t address = 0;
  uint8_t cc = 0;  // runs on across sections, as on the air
};

struct Harness {
  std::vector<PlayList> lists;
  std::vector<MonitorEvent> events;
  PlayListMonitor m{[this](const PlayList& l) { lists.push_back(l); },
                    [this](const MonitorEvent& e) { events.push_back(e); }};
  Sender a{Addr("10.77.0.1")};
  std::vector<Bytes> Packets(const Bytes& section, Sender& from) {
    std::vector<Bytes> out;
    PacketizeSection(section.data(), from.cc, [&](const uint8_t* p) { out.emplace_back(p, p + 188); });
    return out;
  }
  std::vector<Bytes> Packets(const Bytes& section) { return Packets(section, a); }
  void Feed(const std::vector<Bytes>& packets, const Sender& from) {
    for (const Bytes& p : packets) m.Feed(p.data(), p.size(), 0, from.address);
  }
  void Feed(const std::vector<Bytes>& packets) { Feed(packets, a); }
  void Send(const Bytes& section, Sender& from) { Feed(Packets(section, from), from); }
  void Send(const Bytes& section) { Send(section, a); }
  void SendAll(const std::vector<Bytes>& sections) {
    for (const Bytes& s : sections) Send(s);
  }
  std::vector<std::string> CheckKeys() const {
    std::vector<std::string> keys;
    for (const CheckFailure& f : FailedChecks(m.Counters())) keys.push_back(f.key);
    return keys;
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
  EXPECT_EQ(c.crcErrors + c.badSections + c.ts.continuityErrors + c.conflicts, 0u);
  EXPECT_TRUE(h.CheckKeys().empty());
}

// A second sender on the group with the same version and one forged section
// used to complete the first sender's list: a list nobody sent.
TEST(PlayListMonitor, ForgedSectionFromASecondSourceNeverJoinsTheList) {
  const std::vector<ProgramEntry> real = Table(40);  // two sections
  std::vector<ProgramEntry> forged = real;
  for (int i = 27; i < 40; ++i) CopyField(forged[i].szName, "forged program name!");
  const auto air = AirSections(real, 5), lie = AirSections(forged, 5);
  ASSERT_EQ(air.size(), 2u);
  ASSERT_EQ(lie.size(), 2u);
  Harness h;
  Sender f{Addr("10.77.0.2")};
  h.Send(air[0]);
  h.Send(lie[1], f);
  EXPECT_TRUE(h.lists.empty()) << "sections of two sources were put together";
  h.Send(air[1]);
  ASSERT_EQ(h.lists.size(), 1u);
  EXPECT_EQ(h.lists[0].programs, OnAir(real));
  EXPECT_EQ(h.lists[0].source, h.a.address);
  // Its own whole list is its own, and said to be.
  h.Send(lie[0], f);
  ASSERT_EQ(h.lists.size(), 2u);
  EXPECT_EQ(h.lists[1].programs, OnAir(forged));
  EXPECT_EQ(h.lists[1].source, f.address);

  const MonitorCounters c = h.m.Counters();
  ASSERT_EQ(c.sources.size(), 2u);
  EXPECT_EQ(c.sources[1].address, f.address);
  EXPECT_EQ(c.sources[1].datagrams, 9u);  // 3 + 6 packets
  EXPECT_EQ(c.conflicts, 0u);
  ASSERT_EQ(h.events.size(), 2u);
  EXPECT_EQ(FormatEventText(h.events[0]), "");
  EXPECT_EQ(FormatEventText(h.events[1]),
            "another source sends to the group: 10.77.0.2 (2 sources now); its sections are kept apart");
  EXPECT_EQ(h.CheckKeys(), std::vector<std::string>{"sources"});
}

// Two senders whose packets interleave: each keeps its own continuity
// counter and sections, so neither damages the other and the monitor does
// not flap between their versions.
TEST(PlayListMonitor, InterleavedSendersStayApartWithoutFlapping) {
  const std::vector<ProgramEntry> table = Table(40);
  const auto v5 = AirSections(table, 5), v9 = AirSections(Table(3), 9);
  Harness h;
  Sender f{Addr("10.77.0.2")};
  for (int round = 0; round < 4; ++round) {
    const auto mine = h.Packets(v5[round % 2]), theirs = h.Packets(v9[0], f);
    for (size_t i = 0; i < std::max(mine.size(), theirs.size()); ++i) {
      if (i < mine.size()) h.Feed({mine[i]});
      if (i < theirs.size()) h.Feed({theirs[i]}, f);
    }
  }
  ASSERT_EQ(h.lists.size(), 2u);
  EXPECT_EQ(h.lists[0].version, 9);
  EXPECT_EQ(h.lists[1].version, 5);
  EXPECT_EQ(h.lists[1].programs, OnAir(table));
  const MonitorCounters c = h.m.Counters();
  EXPECT_EQ(c.ts.continuityErrors + c.ts.droppedSections + c.crcErrors, 0u);
  EXPECT_EQ(c.versions, std::vector<int>{5});
  EXPECT_EQ(c.sources[1].versions, std::vector<int>{9});
}

// With the sender's address given, nothing else is decoded; what came from
// elsewhere is counted and fails the checks.
TEST(PlayListMonitor, ExpectedSourceAloneIsDecoded) {
  const auto air = AirSections(Table(3), 2);
  Harness h;
  h.m.ExpectSource(h.a.address);
  Sender f{Addr("10.77.0.9")};
  h.Send(air[0], f);
  EXPECT_TRUE(h.lists.empty());
  EXPECT_EQ(h.CheckKeys(), (std::vector<std::string>{"sources", "play_list"}));
  h.Send(air[0]);
  ASSERT_EQ(h.lists.size(), 1u);
  const MonitorCounters c = h.m.Counters();
  EXPECT_EQ(c.ts.datagrams, 2u);
  EXPECT_EQ(c.ts.packets, 1u);
  ASSERT_EQ(c.sources.size(), 2u);
  EXPECT_FALSE(c.sources[0].decoded);
  EXPECT_TRUE(c.sources[1].decoded);
  ASSERT_EQ(h.events.size(), 2u);
  EXPECT_EQ(FormatEventText(h.events[0]),
            "another source sends to the group: 10.77.0.9 (1 sources now), not the expected one: counted, not decoded");
  EXPECT_EQ(FormatEventText(h.events[1]), "");
  const std::vector<CheckFailure> failed = FailedChecks(c);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].message, "datagrams from other sources than 10.77.0.1: 10.77.0.9");
}

// The sender stamps a fresh time into every section it sends, so a section
// that comes again with another time is the same section. Other programs
// under the same version and number are a conflict: counted, and that
// version is collected again from the section that brought it.
TEST(PlayListMonitor, SectionAgainWithOtherProgramsIsAConflict) {
  const std::vector<ProgramEntry> table = Table(40);
  std::vector<ProgramEntry> other = table;
  other[3].nPort = 4321;
  const auto v7 = AirSections(table, 7), later = AirSections(table, 7, FixedClock({2025, 1, 2, 3, 4, 5}));
  const auto changed = AirSections(other, 7);
  ASSERT_NE(v7[0], later[0]);
  Harness h;
  h.SendAll(v7);
  h.SendAll(later);
  ASSERT_EQ(h.lists.size(), 1u);
  EXPECT_EQ(h.m.Counters().conflicts, 0u);

  h.Send(changed[0]);  // the shown list contradicted
  EXPECT_EQ(h.m.Counters().conflicts, 1u);
  EXPECT_EQ(h.lists.size(), 1u);
  h.Send(changed[1]);
  ASSERT_EQ(h.lists.size(), 2u);
  EXPECT_EQ(h.lists[1].version, 7);
  EXPECT_EQ(h.lists[1].programs, OnAir(other));

  // While collecting: the set under way starts again, never mixes.
  const auto v8 = AirSections(table, 8), v8other = AirSections(other, 8);
  h.Send(v8[0]);
  h.Send(v8other[0]);
  EXPECT_EQ(h.m.Counters().conflicts, 2u);
  h.Send(v8[1]);
  ASSERT_EQ(h.lists.size(), 3u);
  EXPECT_EQ(h.lists[2].programs, OnAir(other)) << "section 0 from before the conflict was kept";
  // Another section count under the same version is a conflict as well.
  h.Send(AirSections(Table(3), 8)[0]);
  EXPECT_EQ(h.m.Counters().conflicts, 3u);
  ASSERT_EQ(h.lists.size(), 4u);
  EXPECT_EQ(h.lists[3].sections, 1);
  ASSERT_EQ(h.events.size(), 4u);  // the first source, then the conflicts
  EXPECT_EQ(FormatEventText(h.events[1]),
            "conflict: section 0 of version 7 from 10.77.0.1 came again with other content; collecting version 7 "
            "again");
  EXPECT_TRUE(h.CheckKeys().empty()) << "a sender steps its version one cycle after a change";
}

// Sections sent again byte for byte are not decoded again, but each one
// still counts: a contradicting section repeated after the collection moved
// on is a conflict every time, and repeats of what was taken change nothing.
TEST(PlayListMonitor, ByteForByteRepeatsStillReportConflicts) {
  const std::vector<ProgramEntry> table = Table(40);
  std::vector<ProgramEntry> other = table;
  other[0].nPort = 4321;
  const auto v1 = AirSections(table, 1), v1other = AirSections(other, 1), v2 = AirSections(table, 2);
  Harness h;
  for (int i = 0; i < 3; ++i) h.SendAll(v1);
  ASSERT_EQ(h.lists.size(), 1u);
  EXPECT_EQ(h.m.Counters().conflicts, 0u);
  h.Send(v1other[0]);  // contradicts the shown list; starts collecting it
  h.Send(v1other[0]);  // the same again: a repeat of what is being collected
  EXPECT_EQ(h.m.Counters().conflicts, 1u);
  h.Send(v2[1]);       // another version takes over the collection
  h.Send(v1other[0]);  // contradicts the shown list again
  h.Send(v1other[0]);
  EXPECT_EQ(h.m.Counters().conflicts, 2u);
  h.Send(v1other[1]);
  ASSERT_EQ(h.lists.size(), 2u);
  EXPECT_EQ(h.lists[1].programs, OnAir(other));
  for (int i = 0; i < 3; ++i) h.SendAll(v1other);
  h.SendAll(v2);
  ASSERT_EQ(h.lists.size(), 3u);
  EXPECT_EQ(h.lists[2].version, 2);
  EXPECT_EQ(h.m.Counters().conflicts, 2u);
  EXPECT_EQ(h.m.Counters().sources[0].versions, (std::vector<int>{1, 2, 1, 2}));
}

TEST(PlayListMonitor, ChecksForAHealthProbe) {
  struct Case {
    const char* what;
    std::function<void(MonitorCounters&)> set;
    std::vector<std::string> failed;
  };
  const uint32_t a = Addr("10.0.0.1"), b = Addr("10.0.0.2");
  auto source = [](uint32_t address, uint64_t lists) {
    SourceSeen s;
    s.address = address;
    s.datagrams = 10;
    s.playLists = lists;
    return s;
  };
  const Case cases[] = {
      {"healthy", [](MonitorCounters&) {}, {}},
      {"a CRC error", [](MonitorCounters& c) { c.crcErrors = 1; }, {"crc_errors"}},
      {"a lost packet", [](MonitorCounters& c) { c.ts.continuityErrors = 1; }, {"continuity_errors"}},
      {"no list", [](MonitorCounters& c) { c.playLists = c.sources[0].playLists = 0; }, {"play_list"}},
      {"nothing at all", [](MonitorCounters& c) { c = MonitorCounters{}; }, {"play_list"}},
      {"a second source", [&](MonitorCounters& c) { c.sources.push_back(source(b, 0)); }, {"sources"}},
      {"too many sources to list", [](MonitorCounters& c) { c.unlistedDatagrams = 1; }, {"sources"}},
      {"the expected source", [&](MonitorCounters& c) { c.expectedSource = a; }, {}},
      {"another than expected", [&](MonitorCounters& c) { c.expectedSource = b; }, {"sources", "play_list"}},
      {"a list only from another source",
       [&](MonitorCounters& c) {
         c.expectedSource = b;
         c.sources.push_back(source(b, 0));
       },
       {"sources", "play_list"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    MonitorCounters c;
    c.playLists = 1;
    c.sources.push_back(source(a, 1));
    k.set(c);
    std::vector<std::string> keys;
    for (const CheckFailure& f : FailedChecks(c)) keys.push_back(f.key);
    EXPECT_EQ(keys, k.failed);
  }
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

// A receiver that runs for days keeps the latest spacings only.
TEST(PlayListMonitor, KeptArrivalsStayWithinTheirLimit) {
  const std::vector<ProgramEntry> table = Table(1);  // one packet a section
  Harness h;
  h.m.KeepArrivals(true, 4);
  const Bytes section = AirSections(table, 0)[0];
  int64_t t = 0;
  for (int i = 0; i < 30; ++i) {
    t += i < 20 ? 50'000'000 : 10'000'000;
    for (const Bytes& p : h.Packets(section)) h.m.Feed(p.data(), p.size(), t);
  }
  EXPECT_EQ(h.m.AllPackets().count, 4u);
  EXPECT_EQ(h.m.AllPackets().p90, 10'000.0);
}

TEST(PlayListMonitor, PrintedForms) {
  PlayList l;
  l.version = 5;
  l.sections = 1;
  l.time = {24, 3, 9, 14, 5, 30, true};
  l.source = Addr("10.77.0.1");
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
            "\"hd\":1}],\"source\":\"10.77.0.1\"}\n");
  EXPECT_EQ(FormatPlayListTable(l),
            "play list version 5, 1 section, 1 program, time 2024-03-09 14:05:30, from 10.77.0.1\n"
            "  Number  Group  Multicast         Port  HD  Name\n"
            "     101      2  239.1.2.3         1234   1  a\"b\\\\c\\x01\xE4\xB8\xAD\n");
  MonitorCounters c;
  c.crcErrors = 2;
  c.versions = {3, 4};
  SourceSeen s;
  s.address = l.source;
  s.datagrams = 9;
  s.playLists = 1;
  s.versions = {3, 4};
  c.sources = {s};
  c.expectedSource = l.source;
  const std::string json = FormatCountersJson(c);
  EXPECT_NE(json.find("\"crc_errors\":2,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"versions\":[3,4],\"sources\":[{\"address\":\"10.77.0.1\",\"datagrams\":9,\"play_lists\":1,"
                      "\"conflicts\":0,\"decoded\":true,\"expected\":true,\"versions\":[3,4]}],"
                      "\"expected_source\":\"10.77.0.1\"}"),
            std::string::npos)
      << json;
  EXPECT_NE(FormatCountersText(c).find("\nsources_seen: 1\n"), std::string::npos);
  EXPECT_NE(FormatCountersText(c).find(
                "\nsource 10.77.0.1 (expected): datagrams 9, play lists 1, conflicts 0, versions 3 4\n"),
            std::string::npos)
      << FormatCountersText(c);
}

// Names come from the air as bytes: a line break and an escape sequence
// used to print a fake row and colour the terminal, and a name in another
// code page made the JSON invalid UTF-8.
TEST(PlayListMonitor, NamesArePrintedSafely) {
  struct Case {
    const char* what;
    std::string name, table, json;
    bool hex;  // JSON carries name_hex
  };
  const Case cases[] = {
      {"line break and colour", "x\n     999      0  6.6.6.6  1  0  fake\x1b[31m",
       "x\\x0A     999      0  6.6.6.6  1  0  fake\\x1B[31m",
       "\"x\\u000a     999      0  6.6.6.6  1  0  fake\\u001b[31m\"", false},
      {"CR, tab, DEL", "a\rb\tc\x7f", "a\\x0Db\\x09c\\x7F", "\"a\\u000db\\u0009c\\u007f\"", false},
      {"UTF-8 as it is", "\xE4\xB8\xAD\xE6\x96\x87 HD", "\xE4\xB8\xAD\xE6\x96\x87 HD",
       "\"\xE4\xB8\xAD\xE6\x96\x87 HD\"", false},
      {"GBK", "\xD6\xD0\xCE\xC4", "\\xD6\\xD0\\xCE\\xC4", "\"\\u00d6\\u00d0\\u00ce\\u00c4\"", true},
      {"C1 control in UTF-8 (CSI)",
       "\xC2\x9B"
       "31m",
       "\\xC2\\x9B31m", "\"\\u009b31m\"", false},
      {"a lone C1 byte",
       "\x9B"
       "31m",
       "\\x9B31m", "\"\\u009b31m\"", true},
      {"overlong slash", "\xC0\xAF", "\\xC0\\xAF", "\"\\u00c0\\u00af\"", true},
      {"surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80", "\"\\u00ed\\u00a0\\u0080\"", true},
      {"cut character at the end", "ab\xE4\xB8", "ab\\xE4\\xB8", "\"ab\\u00e4\\u00b8\"", true},
      {"line separator",
       "a\xE2\x80\xA8"
       "b",
       "a\xE2\x80\xA8"
       "b",
       "\"a\\u2028b\"", false},
      {"backslash and quote", "a\\x1B\"", "a\\\\x1B\"", "\"a\\\\x1B\\\"\"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(EscapeForTerminal(c.name), c.table);
    std::string json;
    AppendJsonString(json, c.name);
    EXPECT_EQ(json, c.json);
    EXPECT_EQ(IsUtf8(c.name), !c.hex);

    PlayList l;
    l.sections = 1;
    DecodedProgram p;
    p.name = c.name;
    l.programs = {p, p};
    const std::string table = FormatPlayListTable(l), line = FormatPlayListJson(l);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 4) << table;
    EXPECT_EQ(table.find('\x1b'), std::string::npos);
    EXPECT_TRUE(IsUtf8(table));
    EXPECT_TRUE(IsUtf8(line));
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(line.find("\"name_hex\"") != std::string::npos, c.hex);
  }
  PlayList l;
  l.sections = 1;
  DecodedProgram p;
  p.name = "\xD6\xD0";
  l.programs = {p};
  EXPECT_NE(FormatPlayListJson(l).find("\"name\":\"\\u00d6\\u00d0\",\"name_hex\":\"d6d0\",\"hd\":0}"),
            std::string::npos);
}

// A head end on a Chinese system sends GBK: told so, the monitor prints the
// characters (as UTF-8), and still escapes what is no character.
TEST(PlayListMonitor, NamesAreDecodedInTheCodePageTheyAreSentIn) {
  std::string error;
  const std::optional<CodePage> gbk = CodePage::Named("GBK", &error);
  ASSERT_TRUE(gbk) << error;
  struct Case {
    const char* what;
    std::string name, tableName, jsonName;
    bool hex;
  };
  const Case cases[] = {
      {"characters", "\xD6\xD0\xD1\xEB\xB5\xE7\xCA\xD3\xCC\xA8 HD", "中央电视台 HD", "\"中央电视台 HD\"", false},
      {"trail byte '\\' stays part of its character", "\x81\x5C", "乗", "\"乗\"", false},
      {"controls still escaped", "\xD6\xD0\n\x1b[31m", "中\\x0A\\x1B[31m", "\"中\\u000a\\u001b[31m\"", false},
      {"unassigned pair, lone lead, 0xFF", "\xA2\xAB\xD6\xD0\x81 \xFF", "\\xA2\\xAB中\\x81 \\xFF",
       "\"\\u00a2\\u00ab中\\u0081 \\u00ff\"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PlayList l;
    l.sections = 1;
    DecodedProgram p;
    p.name = c.name;
    l.programs = {p};
    const std::string table = FormatPlayListTable(l, *gbk), line = FormatPlayListJson(l, *gbk);
    EXPECT_NE(table.find(" 0  " + c.tableName + "\n"), std::string::npos) << table;
    EXPECT_NE(line.find("\"name\":" + c.jsonName), std::string::npos) << line;
    EXPECT_EQ(line.find("\"name_hex\"") != std::string::npos, c.hex) << line;
    EXPECT_TRUE(IsUtf8(table));
    EXPECT_TRUE(IsUtf8(line));
  }
}

}  // namespace
