#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "editing/form.h"

namespace {

TEST(ParseFormNumber, FollowsTheNumberRule) {
  constexpr uint32_t kMax = 4294967295u;
  struct Case {
    std::string text;
    std::optional<uint32_t> value;
  };
  const Case cases[] = {
      {"0", 0u},
      {"42", 42u},
      {" \t42 \t", 42u},
      {"+7", 7u},
      {"007", 7u},
      {"4294967295", kMax},
      {"4294967296", kMax},
      {"99999999999999999999", kMax},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"-1", std::nullopt},
      {"  -0", std::nullopt},
      {"+", std::nullopt},
      {"+0", std::nullopt},  // 0 counts only when the first character is the digit
      {"12a", std::nullopt},
      {"abc", std::nullopt},
      {"1 2", std::nullopt},
      {"0x10", std::nullopt},
      {"\n5", std::nullopt},
      {"5\n", std::nullopt},
      // Only the first 31 bytes are looked at.
      {std::string(30, ' ') + "5", 5u},
      {std::string(31, ' ') + "5", std::nullopt},
      {"5" + std::string(30, ' ') + "x", 5u},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseFormNumber(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
