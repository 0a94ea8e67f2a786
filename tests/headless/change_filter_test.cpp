#include "headless/change_filter.h"

#include <gtest/gtest.h>

TEST(ChangeFilter, KeepsTheFirstLineAndEveryChangeOfVersionSectionsOrFailure) {
  ChangeFilter f;
  // version, sections, rotation, len, sent; and whether the line is kept.
  const std::pair<CycleFields, bool> lines[] = {
      {{4, 2, 0, 1320, 0}, true},      // the first line
      {{4, 2, 1, 1320, 1128}, false},  // sections of different sizes take turns
      {{4, 2, 2, 1320, 188}, false},   // (sent is the previous cycle's)
      {{4, 2, 3, 1320, 1128}, false},  // and so on
      {{5, 2, 4, 1320, 188}, true},    // a new version
      {{5, 3, 5, 2300, 1128}, true},   // a new number of sections
      {{5, 3, 6, 2300, -1}, true},     // a send failed
      {{5, 3, 7, 2300, -3}, false},    // and keeps failing
      {{5, 3, 8, 2300, 188}, true},    // and works again
      {{5, 0, 9, 0, 1128}, true},      // the list was emptied
      {{5, 0, 9, 0, 0}, false},        // nothing sent for an empty list
  };
  int row = 0;
  for (const auto& [fields, keep] : lines) EXPECT_EQ(f.Keep(fields), keep) << "row " << row++;
}
