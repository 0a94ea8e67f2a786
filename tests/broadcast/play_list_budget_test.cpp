// The budget's figures against the sections the encoder really writes: the
// bytes summed from each section's own length field, the programs counted
// by walking the entries on the wire.
#include "broadcast/play_list_budget.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

std::vector<ProgramEntry> Names(const std::vector<size_t>& lengths) {
  std::vector<ProgramEntry> v;
  for (size_t i = 0; i < lengths.size(); ++i)
    v.push_back(MakeProgram(static_cast<int>(i) + 1, std::string(lengths[i], 'n'), "239.1.1.1", 1234, 0, 0));
  return v;
}

std::vector<size_t> Repeat(int n, size_t length) { return std::vector<size_t>(static_cast<size_t>(n), length); }

struct Written {
  int bytes = 0, sections = 0, programs = 0;
};

// Reads the built sections back from their bytes alone.
Written Walk(const SectionBuffers& buf) {
  Written w;
  for (int k = 0; k < MAX_SECTIONS && buf[k][0] == wire::TABLE_ID; ++k) {
    const uint8_t* s = buf[k];
    w.bytes += SectionTotalSize(s);
    ++w.sections;
    const int loop = (s[18] & 0x0F) << 8 | s[19];
    for (int p = 20; p < 20 + loop; p += 6 + ((s[p + 4] & 0x0F) << 8 | s[p + 5])) ++w.programs;
  }
  return w;
}

}  // namespace

TEST(PlayListBudget, FiguresAreWhatTheEncoderWrites) {
  std::vector<size_t> mixed;
  for (int i = 0; i < 300; ++i) mixed.push_back(static_cast<size_t>((i * 37) % 128));
  const struct {
    const char* what;
    std::vector<size_t> names;
    int sections, leftOut;  // -1: whatever the encoder makes of it
  } cases[] = {
      {"empty list: the header alone", {}, 1, 0},
      {"one program", {3}, 1, 0},
      {"240 eight-byte names fill six sections", Repeat(240, 8), 6, 0},
      {"the 241st is left out", Repeat(241, 8), 6, 1},
      {"120 names of 32 bytes", Repeat(120, 32), 6, 0},
      {"121 names of 32 bytes", Repeat(121, 32), 6, 1},
      {"300 names of 127 bytes", Repeat(300, 127), 6, 264},
      {"300 names of mixed lengths", mixed, -1, -1},
      {"41 eight-byte names open a second section", Repeat(41, 8), 2, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<ProgramEntry> programs = Names(c.names);
    const int count = static_cast<int>(programs.size());
    const PlayListBudget budget = MeasurePlayList(programs.data(), count);

    SectionBuffers buf{};
    uint8_t last = 0;
    FixedClock clock({2031, 12, 31, 23, 59, 59});
    BuildSection(buf, 0, last, 0, {programs.data(), count, 7}, clock);
    const Written w = Walk(buf);
    EXPECT_EQ(budget.bytes, w.bytes);
    EXPECT_EQ(budget.sections, w.sections);
    EXPECT_EQ(budget.OnAir(), w.programs);
    EXPECT_EQ(budget.programs, count);
    EXPECT_LE(budget.bytes, PlayListBudget::kCapacity);
    // The editing commands' test agrees on what is left out.
    int leftOut = -1;
    EXPECT_EQ(PlayListFits(programs.data(), count, &leftOut), budget.leftOut == 0);
    EXPECT_EQ(leftOut, budget.leftOut);
    if (c.sections >= 0) {
      EXPECT_EQ(budget.sections, c.sections);
      EXPECT_EQ(budget.leftOut, c.leftOut);
    }
  }
}
