#include "text/string_printf.h"

#include <gtest/gtest.h>

// Texts on both sides of the first pass's buffer come out whole.
TEST(StringPrintf, FormatsTextsOfAnyLength) {
  EXPECT_EQ(StringPrintf("%s:%d:%s", "224.2.2.1", 1234, "x"), "224.2.2.1:1234:x");
  EXPECT_EQ(StringPrintf("%s", ""), "");
  for (size_t n : {255u, 256u, 257u, 5000u}) {
    const std::string text(n, 'a');
    EXPECT_EQ(StringPrintf("<%s>", text.c_str()), "<" + text + ">") << n;
  }
}
