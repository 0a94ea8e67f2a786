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

TEST(Crc32, FastPathEqualsPerByteDefinition) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data(1100);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t len : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 31u, 32u, 33u, 183u, 1020u, 1100u})
    EXPECT_EQ(Crc32Mpeg(data.data(), len), Crc32::Reference(data.data(), len)) << len;
}

TEST(Crc32, AppendedCrcMakesTheWholeRunZero) {
  uint8_t buf[16] = {0x40, 0xF0, 0x15, 0x00, 0x01};
  EXPECT_EQ(AppendCrc32(buf, 5), 9);
  EXPECT_EQ(Crc32Mpeg(buf, 9), 0u);
  uint8_t untouched[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(AppendCrc32(untouched, -1), 0);
  EXPECT_EQ(untouched[0], 1);
}
