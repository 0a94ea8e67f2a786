// The decoder against the encoder: round trips, walking bits through every
// numeric field of a program entry, and sections that must be refused.
#include "monitor/section_decoder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../broadcast/test_support.h"
#include "wire/crc32.h"

namespace {

// What the decoder should give back for a table entry: the low 16 bits of
// the numbers, the address as a value.
DecodedProgram Expected(const ProgramEntry& e) {
  DecodedProgram p;
  p.nNumber = static_cast<uint16_t>(e.nNumber);
  p.nGroup = static_cast<uint16_t>(e.nGroup);
  in_addr a{};
  p.address = inet_pton(AF_INET, e.szMulticast, &a) == 1 ? ntohl(a.s_addr) : 0xFFFFFFFFu;
  p.nPort = static_cast<uint16_t>(e.nPort);
  p.name = e.szName;
  p.bHD = e.bHD;
  return p;
}

struct Built {
  SectionBuffers buf{};
  int sections = 0;
};

Built Build(const std::vector<ProgramEntry>& programs, uint8_t version, const Clock& clock) {
  Built b;
  uint8_t last = 0;
  BuildSection(b.buf, 0, last, 0, {programs.data(), static_cast<int>(programs.size()), version}, clock);
  b.sections = last + 1;
  return b;
}

std::vector<ProgramEntry> Numbered(int count, size_t nameLen) {
  std::vector<ProgramEntry> v;
  for (int i = 0; i < count; ++i) {
    std::string name(nameLen, static_cast<char>('a' + i % 26));
    v.push_back(MakeProgram(1000 + i, name, "239.1.2.3", 5000 + i, i % 7, static_cast<uint8_t>(i & 1)));
  }
  return v;
}

struct RoundTripCase {
  const char* what;
  std::vector<ProgramEntry> programs;
  uint8_t version;
  int sections;
};

TEST(SectionDecoder, RoundTripsWhatTheEncoderBuilt) {
  const RoundTripCase cases[] = {
      {"empty table", {}, 0, 1},
      {"one program", {MakeProgram(101, "abc", "239.1.2.3", 1234, 2, 1)}, 5, 1},
      {"truncated fields", {MakeProgram(65637, "\xE4\xB8\xAD\xE6\x96\x87", "224.1.1.1", 65535, -1, 255)}, 31, 1},
      {"60 empty names", Numbered(60, 0), 7, 2},
      {"51 three-byte names: section 0 is 1024 bytes", Numbered(51, 3), 9, 2},
      {"six full sections", Numbered(6 * 27, 20), 40, 6},
  };
  const FixedClock clock({2009, 12, 31, 23, 59, 58});
  // A receiver decodes one section after another into the same object: its
  // programs, longer and shorter names, more and fewer, must never show
  // through.
  DecodedSection reused;
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Built b = Build(c.programs, c.version, clock);
    ASSERT_EQ(b.sections, c.sections);
    std::vector<DecodedProgram> got;
    for (int k = 0; k < b.sections; ++k) {
      DecodedSection s;
      ASSERT_EQ(DecodeSection(b.buf[k], SECTION_SIZE, s), SectionError::None) << "section " << k;
      EXPECT_EQ(s.tableIdExtension, 1);
      EXPECT_EQ(s.version, c.version & 0x1F);
      EXPECT_EQ(s.sectionNumber, k);
      EXPECT_EQ(s.lastSection, c.sections - 1);
      EXPECT_TRUE(s.time.present);
      EXPECT_EQ((std::vector<int>{s.time.year, s.time.month, s.time.day, s.time.hour, s.time.minute, s.time.second}),
                (std::vector<int>{9, 12, 31, 23, 59, 58}));
      got.insert(got.end(), s.programs.begin(), s.programs.end());
      ASSERT_EQ(DecodeSection(b.buf[k], SECTION_SIZE, reused), SectionError::None) << "section " << k;
      EXPECT_EQ(reused.programs, s.programs) << "section " << k;
    }
    std::vector<DecodedProgram> want;
    for (const ProgramEntry& e : c.programs) want.push_back(Expected(e));
    EXPECT_EQ(got, want);
  }
}

// One set bit at a time through every numeric field: a wrong mask, shift or
// byte order shows as a bit in the wrong place or in the wrong field.
TEST(SectionDecoder, WalkingBitThroughEveryNumericField) {
  const FixedClock clock;
  struct Field {
    const char* name;
    int bits;
    void (*set)(ProgramEntry&, uint32_t);
    uint32_t (*get)(const DecodedProgram&);
  };
  const Field fields[] = {
      {"number", 16, [](ProgramEntry& e, uint32_t v) { e.nNumber = static_cast<int32_t>(v); },
       [](const DecodedProgram& p) -> uint32_t { return p.nNumber; }},
      {"group", 16, [](ProgramEntry& e, uint32_t v) { e.nGroup = static_cast<int32_t>(v); },
       [](const DecodedProgram& p) -> uint32_t { return p.nGroup; }},
      {"port", 16, [](ProgramEntry& e, uint32_t v) { e.nPort = static_cast<int32_t>(v); },
       [](const DecodedProgram& p) -> uint32_t { return p.nPort; }},
      {"address", 32,
       [](ProgramEntry& e, uint32_t v) {
         in_addr a{htonl(v)};
         std::strcpy(e.szMulticast, inet_ntoa(a));
       },
       [](const DecodedProgram& p) -> uint32_t { return p.address; }},
      {"hd", 8, [](ProgramEntry& e, uint32_t v) { e.bHD = static_cast<uint8_t>(v); },
       [](const DecodedProgram& p) -> uint32_t { return p.bHD; }},
  };
  for (const Field& f : fields) {
    for (int bit = 0; bit < f.bits; ++bit) {
      SCOPED_TRACE(std::string(f.name) + " bit " + std::to_string(bit));
      ProgramEntry e = MakeProgram(0, "x", "0.0.0.0", 0, 0, 0);
      f.set(e, 1u << bit);
      const Built b = Build({e}, 0, clock);
      DecodedSection s;
      ASSERT_EQ(DecodeSection(b.buf[0], SECTION_SIZE, s), SectionError::None);
      ASSERT_EQ(s.programs.size(), 1u);
      for (const Field& other : fields)
        EXPECT_EQ(other.get(s.programs[0]), &other == &f ? 1u << bit : 0u) << other.name;
      EXPECT_EQ(s.programs[0].name, "x");
    }
  }
}

// A section with a program, changed by `edit`, with its CRC made good again
// when `recrc` so that the check behind the CRC is the one that must catch it.
std::vector<uint8_t> Damaged(void (*edit)(std::vector<uint8_t>&), bool recrc) {
  const Built b = Build({MakeProgram(101, "abc", "239.1.2.3", 1234, 2, 1)}, 5, FixedClock());
  std::vector<uint8_t> s(b.buf[0], b.buf[0] + SectionTotalSize(b.buf[0]));
  edit(s);
  if (recrc) AppendCrc32(s.data(), static_cast<int>(s.size()) - 4);
  return s;
}

TEST(SectionDecoder, RefusesDamagedSections) {
  struct Case {
    const char* what;
    void (*edit)(std::vector<uint8_t>&);
    bool recrc;
    SectionError want;
  };
  const Case cases[] = {
      {"payload byte flipped", [](std::vector<uint8_t>& s) { s[30] ^= 0x01; }, false, SectionError::BadCrc},
      {"CRC byte flipped", [](std::vector<uint8_t>& s) { s.back() ^= 0x80; }, false, SectionError::BadCrc},
      {"other table id", [](std::vector<uint8_t>& s) { s[0] = 0x42; }, true, SectionError::BadTableId},
      {"cut short", [](std::vector<uint8_t>& s) { s.resize(s.size() - 1); }, false, SectionError::TooShort},
      {"only two bytes", [](std::vector<uint8_t>& s) { s.resize(2); }, false, SectionError::TooShort},
      {"section length below the header", [](std::vector<uint8_t>& s) { s[1] = 0xF0, s[2] = 20; }, false,
       SectionError::BadLength},
      {"section length above 1021", [](std::vector<uint8_t>& s) { s[1] = 0xF3, s[2] = 0xFE; }, false,
       SectionError::BadLength},
      {"section number above last", [](std::vector<uint8_t>& s) { s[6] = 1; }, true, SectionError::BadNumbering},
      {"last section 6", [](std::vector<uint8_t>& s) { s[6] = 6, s[7] = 6; }, true, SectionError::BadNumbering},
      {"syntax indicator clear", [](std::vector<uint8_t>& s) { s[1] &= 0x7F; }, true, SectionError::BadSyntax},
      {"program loop one byte long", [](std::vector<uint8_t>& s) { ++s[19]; }, true, SectionError::BadLength},
      {"descriptor loop past the section", [](std::vector<uint8_t>& s) { s[9] = 0xFF; }, true, SectionError::BadLength},
      {"entry descriptors overrun", [](std::vector<uint8_t>& s) { ++s[25]; }, true, SectionError::BadDescriptor},
      {"name length overruns descriptor", [](std::vector<uint8_t>& s) { s[34] = 4; }, true,
       SectionError::BadDescriptor},
      {"no program descriptor", [](std::vector<uint8_t>& s) { s[26] = 0x99; }, true, SectionError::BadDescriptor},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> s = Damaged(c.edit, c.recrc);
    DecodedSection out;
    EXPECT_EQ(DecodeSection(s.data(), s.size(), out), c.want);
  }
}

TEST(SectionDecoder, EverySingleBitErrorIsCaught) {
  const std::vector<uint8_t> good = Damaged([](std::vector<uint8_t>&) {}, false);
  for (size_t i = 0; i < good.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      std::vector<uint8_t> s = good;
      s[i] ^= static_cast<uint8_t>(1 << bit);
      DecodedSection out;
      EXPECT_NE(DecodeSection(s.data(), s.size(), out), SectionError::None) << "byte " << i << " bit " << bit;
    }
  }
}

// Damage that the CRC cannot catch (a sender's fault, not the line's): any
// byte behind the length field changed, CRC made good again. The decoder
// must refuse or decode within the section's bounds, never read past it.
TEST(SectionDecoder, SurvivesRandomDamageBehindAGoodCrc) {
  const Built b = Build(Numbered(5, 3), 1, FixedClock());
  const int size = SectionTotalSize(b.buf[0]);
  std::mt19937 rng(7);
  int decoded = 0;
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> s(b.buf[0], b.buf[0] + size);  // exactly the section: overruns are out of bounds
    for (int n = 0; n < 1 + i % 4; ++n) s[3 + rng() % (size - 7)] = static_cast<uint8_t>(rng());
    AppendCrc32(s.data(), size - 4);
    DecodedSection out;
    if (DecodeSection(s.data(), s.size(), out) == SectionError::None) {
      ++decoded;
      size_t bytes = 0;
      for (const DecodedProgram& p : out.programs) bytes += 17 + p.name.size();
      EXPECT_LE(bytes, static_cast<size_t>(size - 24));
    }
  }
  EXPECT_GT(decoded, 0);
}

TEST(SectionDecoder, FormatAddress) {
  EXPECT_EQ(FormatAddress(0xEF010203u), "239.1.2.3");
  EXPECT_EQ(FormatAddress(0xFFFFFFFFu), "255.255.255.255");
}

}  // namespace
