#include "wire/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

TEST(Crc32, KnownAnswersAndPieces) {
  const std::string check = "123456789";
  const auto* p = reinterpret_cast<const uint8_t*>(check.data());
  EXPECT_EQ(Crc32Mpeg(p, check.size()), 0x0376E6E7u);
  EXPECT_EQ(Crc32Mpeg(p, 0), 0xFFFFFFFFu);
  for (size_t cut = 0; cut <= check.size(); ++cut) {
    Crc32 c;
    c.Update(p, cut);
    c.Update(p + cut, check.size() - cut);
    EXPECT_EQ(c.Value(), 0x0376E6E7u) << "cut at " << cut;
  }
}

// Both paths against the per-byte definition: every length around the
// block sizes of the table (16) and of the folding (16, 64), at every
// alignment, and continued from a register that is not the initial one.
TEST(Crc32, FastPathsEqualPerByteDefinition) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data(4200);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  std::vector<size_t> lengths;
  for (size_t len = 0; len <= 200; ++len) lengths.push_back(len);
  for (size_t len : {255u, 256u, 257u, 1020u, 1024u, 1100u, 4096u}) lengths.push_back(len);
  for (size_t len : lengths)
    for (size_t offset = 0; offset<16; offset += len> 200 ? 5 : 1) {
      const uint8_t* p = data.data() + offset;
      const uint32_t expected = Crc32::Reference(p, len);
      EXPECT_EQ(Crc32Mpeg(p, len), expected) << len << " at " << offset;
      EXPECT_EQ(Crc32::UpdateTable(0xFFFFFFFFu, p, len), expected) << len << " at " << offset;
      Crc32 pieces;
      pieces.Update(p, len / 3);
      pieces.Update(p + len / 3, len - len / 3);
      EXPECT_EQ(pieces.Value(), expected) << len << " in two at " << offset;
    }
}

TEST(Crc32, AppendedCrcMakesTheWholeRunZero) {
  uint8_t buf[16] = {0x40, 0xF0, 0x15, 0x00, 0x01};
  EXPECT_EQ(AppendCrc32(buf, 5), 9);
  EXPECT_EQ(Crc32Mpeg(buf, 9), 0u);
  uint8_t untouched[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(AppendCrc32(untouched, -1), 0);
  EXPECT_EQ(untouched[0], 1);
}
