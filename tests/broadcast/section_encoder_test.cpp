#include "broadcast/section_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "monitor/section_decoder.h"
#include "test_support.h"
#include "wire/crc32.h"

namespace {

struct Build {
  SectionBuffers buf{};
  uint8_t last = 0;
  int len = 0;
  int leftOut = -1;
};

Build Encode(const std::vector<ProgramEntry>& programs, uint8_t version = 0, LocalTime t = {2024, 3, 9, 14, 5, 30}) {
  Build b;
  FixedClock clock(t);
  b.len = BuildSection(b.buf, 0, b.last, 0, {programs.data(), static_cast<int>(programs.size()), version}, clock,
                       &b.leftOut);
  return b;
}

std::vector<ProgramEntry> Many(int n, const std::string& name) {
  std::vector<ProgramEntry> v;
  for (int i = 0; i < n; ++i) v.push_back(MakeProgram(i + 1, name, "224.2.2.1", 10001, 0, 0));
  return v;
}

int SectionLength(const uint8_t* s) { return (s[1] & 0x0F) << 8 | s[2]; }

}  // namespace

TEST(SectionEncoder, EmptyTableIsOneSectionOf24Bytes) {
  Build b = Encode({});
  EXPECT_EQ(b.len, 24);
  EXPECT_EQ(b.last, 0);
  EXPECT_EQ(Hex(b.buf[0], 20), "40 F0 15 00 01 41 00 00 F0 08 BC 06 18 03 09 0E 05 1E F0 00");
  EXPECT_EQ(Crc32Mpeg(b.buf[0], 24), 0u);
  EXPECT_EQ(b.buf[1][0], 0);
}

TEST(SectionEncoder, OneProgramMatchesTheReferenceBytes) {
  Build b = Encode({MakeProgram(101, "abc", "239.1.2.3", 1234, 2, 1)}, 5);
  EXPECT_EQ(b.len, 44);
  EXPECT_EQ(Hex(b.buf[0], 44),
            "40 F0 29 00 01 4B 00 00 F0 08 BC 06 18 03 09 0E 05 1E F0 14 00 65 00 02 F0 0E BB 0C 03 02 01 EF 04 D2 "
            "03 61 62 63 00 01 53 1E 4D 76");
}

TEST(SectionEncoder, SplitsAcrossSectionsAtExactlyTheirCapacity) {
  struct Case {
    const char* what;
    int programs;
    std::string name;
    std::vector<int> sectionLengths;
    int len;
  };
  const Case cases[] = {
      {"60 empty names: 58 + 2", 60, "", {1007, 55}, 1068},
      {"50 three-byte names end at byte 1020", 50, "abc", {1021}, 1024},
      {"the 51st opens section 1", 51, "abc", {1021, 41}, 1024 + 44},
      {"six full sections", 300, "abc", {1021, 1021, 1021, 1021, 1021, 1021}, 6 * 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Build b = Encode(Many(c.programs, c.name));
    const int sections = static_cast<int>(c.sectionLengths.size());
    EXPECT_EQ(b.len, c.len);
    EXPECT_EQ(b.last, sections - 1);
    EXPECT_EQ(b.leftOut, 0);
    for (int k = 0; k < MAX_SECTIONS; ++k) {
      if (k >= sections) {
        EXPECT_EQ(b.buf[k][0], 0) << "section " << k << " should be untouched";
        continue;
      }
      EXPECT_EQ(b.buf[k][0], 0x40);
      EXPECT_EQ(SectionLength(b.buf[k]), c.sectionLengths[k]) << "section " << k;
      EXPECT_EQ(b.buf[k][6], k);
      EXPECT_EQ(b.buf[k][7], sections - 1);
      EXPECT_EQ(Crc32Mpeg(b.buf[k], static_cast<size_t>(SectionLength(b.buf[k]) + 3)), 0u) << "section " << k;
    }
  }
}

TEST(SectionEncoder, LeavesOutWhatDoesNotFitSixSectionsAndSaysHowMany) {
  // 58 empty-name entries fill a section: 348 fit, the rest cannot.
  std::vector<ProgramEntry> programs = Many(300, "");
  for (int extra = 0; extra < 100; ++extra) programs.push_back(programs[0]);  // 400 entries, past the table
  Build b = Encode(programs);
  EXPECT_EQ(b.leftOut, 52);
  EXPECT_EQ(b.last, 5);
  for (int k = 0; k < MAX_SECTIONS; ++k) EXPECT_LE(SectionLength(b.buf[k]) + 3, SECTION_SIZE);
  int fits = -1;
  EXPECT_FALSE(PlayListFits(programs.data(), 400, &fits));
  EXPECT_EQ(fits, 52);
  EXPECT_TRUE(PlayListFits(programs.data(), 348));
  EXPECT_FALSE(PlayListFits(programs.data(), 349));
}

// The editing commands refuse a change by PlayListFits' count; it must be
// the count of programs that are really missing from the air. Random name
// lengths (and remarks, which are not sent and must not count) put the
// section breaks anywhere, a full section included.
TEST(SectionEncoder, FitCheckLeavesOutWhatTheEncoderLeavesOut) {
  std::mt19937 rng(20240309);
  int sawLeftOut = 0, sawFit = 0;
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const size_t longest = std::uniform_int_distribution<size_t>(0, wire::MAX_NAME_LENGTH)(rng);
    const int count = std::uniform_int_distribution<int>(0, MAX_PROGRAMS)(rng);
    std::vector<ProgramEntry> programs;
    for (int i = 0; i < count; ++i) {
      const size_t nameLen = std::uniform_int_distribution<size_t>(0, longest)(rng);
      ProgramEntry e = MakeProgram(i + 1, std::string(nameLen, 'n'), "239.1.2.3", 5000, 0, 0);
      CopyField(e.szNote, std::string(std::uniform_int_distribution<size_t>(0, 127)(rng), 'r'));
      programs.push_back(e);
    }

    int fitLeftOut = -1;
    const bool fits = PlayListFits(programs.data(), count, &fitLeftOut);
    const Build b = Encode(programs);
    EXPECT_EQ(fits, fitLeftOut == 0);
    EXPECT_EQ(fitLeftOut, b.leftOut);

    // What is on the air: the programs the sections hold, in table order.
    std::vector<DecodedProgram> onAir;
    for (int k = 0; k <= b.last; ++k) {
      DecodedSection d;
      ASSERT_EQ(DecodeSection(b.buf[k], SECTION_SIZE, d), SectionError::None) << "section " << k;
      onAir.insert(onAir.end(), d.programs.begin(), d.programs.end());
    }
    ASSERT_EQ(static_cast<int>(onAir.size()), count - fitLeftOut);
    for (size_t i = 0; i < onAir.size(); ++i) {
      ASSERT_EQ(onAir[i].nNumber, programs[i].nNumber) << "program " << i;
      ASSERT_EQ(onAir[i].name, programs[i].szName) << "program " << i;
    }
    (fitLeftOut > 0 ? sawLeftOut : sawFit)++;
  }
  // The seed must exercise both answers.
  EXPECT_GT(sawLeftOut, 20);
  EXPECT_GT(sawFit, 20);
}

TEST(SectionEncoder, FieldsTakeTheirLowBits) {
  Build b = Encode({MakeProgram(65637, "", "224.1.1.1", 65535, -1, 0)});
  const uint8_t* e = b.buf[0] + 20;
  EXPECT_EQ(Hex(e, 17), "00 65 FF FF F0 0B BB 09 01 01 01 E0 FF FF 00 00 00");

  Build named = Encode({MakeProgram(1, std::string(127, 'x'), "224.1.1.1", 1, 0, 2)});
  const uint8_t* n = named.buf[0] + 20;
  EXPECT_EQ(SectionLength(named.buf[0]), 144 + 21);
  EXPECT_EQ(n[4], 0xF0);
  EXPECT_EQ(n[5], 0x8A);
  EXPECT_EQ(n[7], 0x88);
  EXPECT_EQ(n[14], 127);
  EXPECT_EQ(n[143], 2);  // bHD as the byte it is
}

// The name goes out up to its first zero byte, at most 127 bytes, whatever
// the bytes around it: bytes with the high bit set, a zero in any of the
// eight places of a word, and a field with no zero at all.
TEST(SectionEncoder, NameEndsAtItsFirstZeroByte) {
  for (size_t len = 0; len <= 128; ++len)
    for (char fill : {'\x01', '\x80', '\xFF'}) {
      ProgramEntry e = MakeProgram(1, "", "224.1.1.1", 1, 0, 0);
      std::memset(e.szName, '\xFF', sizeof e.szName);
      std::memset(e.szName, fill, len);
      if (len < sizeof e.szName) e.szName[len] = '\0';
      const Build b = Encode({e});
      EXPECT_EQ(b.buf[0][20 + 14], std::min<size_t>(len, 127)) << len << " " << int{fill};
    }
}

TEST(SectionEncoder, AddressTextsAsTheSystemConversionReadsThem) {
  struct Case {
    const char* text;
    const char* bytes;
  };
  const Case cases[] = {
      {"239.1.2.3", "03 02 01 EF"},
      {"224.002.002.001", "01 02 02 E0"},
      {"255.255.255.255", "FF FF FF FF"},
      {"not an address", "FF FF FF FF"},
      {"", "FF FF FF FF"},
      {"224.1.1.256", "FF FF FF FF"},
      {"0.0.0.0", "00 00 00 00"},
  };
  for (const Case& c : cases) {
    Build b = Encode({MakeProgram(1, "", c.text, 1, 0, 0)});
    EXPECT_EQ(Hex(b.buf[0] + 28, 4), c.bytes) << c.text;
  }
}

TEST(SectionEncoder, VersionByteAndYear) {
  const std::pair<uint8_t, uint8_t> versions[] = {{0, 0x41}, {5, 0x4B}, {31, 0x7F}, {40, 0x51}};
  for (auto [version, byte] : versions) EXPECT_EQ(Encode({}, version).buf[0][5], byte) << int(version);
  EXPECT_EQ(Encode({}, 0, {2000, 1, 1, 0, 0, 0}).buf[0][12], 0);
  EXPECT_EQ(Encode({}, 0, {2009, 12, 31, 23, 59, 59}).buf[0][12], 9);
}

// The loop builds its sections from entries encoded when the table was
// published; they must be BuildSection's bytes for any table: names of any
// length or none, fields without terminators, addresses the fast parser
// refuses, numbers out of range, tables that do not fit, any version and
// time, and an address cache kept from table to table. The buffers start
// dirty: the sections must not depend on what was there.
TEST(SectionEncoder, SectionsFromEncodedEntriesAreBuildSectionsBytes) {
  std::mt19937 rng(20261211);
  auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  const char* addresses[] = {"239.1.2.3", "224.002.002.001", "0x7f.1", "", "224.1.1.256", "10.0.0.1 "};
  static AddressCache cache;
  static PlayListEntries entries;
  static SectionBuffers fast;
  int sawLeftOut = 0, sawSix = 0;
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const int count = below(MAX_PROGRAMS + 1);
    const int longest = 1 + below(140);
    std::vector<ProgramEntry> programs(static_cast<size_t>(count));
    for (ProgramEntry& e : programs) {
      auto* raw = reinterpret_cast<uint8_t*>(&e);
      for (size_t i = 0; i < sizeof e; ++i) raw[i] = static_cast<uint8_t>(1 + below(255));
      const int nameLen = below(longest);
      if (nameLen < static_cast<int>(sizeof e.szName)) e.szName[nameLen] = '\0';  // else no terminator
      if (below(4) != 0) CopyField(e.szMulticast, addresses[below(std::size(addresses))]);
      e.nNumber = static_cast<int32_t>(rng());
      e.nPort = static_cast<int32_t>(rng());
      e.nGroup = static_cast<int32_t>(rng());
    }
    const auto version = static_cast<uint8_t>(below(256));
    const FixedClock clock({2000 + below(200), 1 + below(12), 1 + below(31), below(24), below(60), below(61)});

    Build want;
    want.len = BuildSection(want.buf, 0, want.last, 0, {programs.data(), count, version}, clock, &want.leftOut);

    std::memset(fast, 0xA5, sizeof fast);
    EncodePlayListEntries(entries, {programs.data(), count, 0, below(2) ? &cache : nullptr});
    uint8_t last = 0xEE;
    const int len = BuildSections(fast, entries, version, clock, last);

    ASSERT_EQ(len, want.len);
    ASSERT_EQ(last, want.last);
    ASSERT_EQ(entries.leftOut, want.leftOut);
    for (int s = 0; s <= last; ++s)
      ASSERT_EQ(Hex(fast[s], static_cast<size_t>(SectionTotalSize(want.buf[s]))),
                Hex(want.buf[s], static_cast<size_t>(SectionTotalSize(want.buf[s]))))
          << "section " << s;
    sawLeftOut += want.leftOut > 0;
    sawSix += want.last == MAX_SECTIONS - 1;
  }
  EXPECT_GT(sawLeftOut, 10);
  EXPECT_GT(sawSix, 20);
}
