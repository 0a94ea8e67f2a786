#include "table/program_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "text/code_page.h"

namespace {

ProgramEntry Entry(int32_t number, int32_t tag) {
  ProgramEntry e{};
  e.nNumber = number;
  e.nGroup = tag;  // tells equal numbers apart
  return e;
}

struct SortCase {
  const char* what;
  std::vector<int32_t> numbers;
  std::vector<int32_t> sortedNumbers;
  std::vector<int32_t> sortedTags;  // input positions, in sorted order
};

TEST(SortByNumber, AscendingSignedAndStable) {
  const SortCase cases[] = {
      {"equal numbers keep their order", {5, 3, 5, 1}, {1, 3, 5, 5}, {3, 1, 0, 2}},
      {"signed compare", {0, -2, 7}, {-2, 0, 7}, {1, 0, 2}},
      {"already sorted", {1, 2, 2, 3}, {1, 2, 2, 3}, {0, 1, 2, 3}},
      {"one entry", {9}, {9}, {0}},
  };
  for (const SortCase& c : cases) {
    std::vector<ProgramEntry> entries;
    for (size_t i = 0; i < c.numbers.size(); ++i) entries.push_back(Entry(c.numbers[i], static_cast<int32_t>(i)));
    SortByNumber(entries.data(), static_cast<int>(entries.size()));
    std::vector<int32_t> numbers, tags;
    for (const ProgramEntry& e : entries) {
      numbers.push_back(e.nNumber);
      tags.push_back(e.nGroup);
    }
    EXPECT_EQ(numbers, c.sortedNumbers) << c.what;
    EXPECT_EQ(tags, c.sortedTags) << c.what;
  }
}

TEST(FormatRow, CellTextsInColumnOrder) {
  ProgramEntry e{};
  e.nNumber = -2;
  std::strcpy(e.szName, "News");
  std::strcpy(e.szMulticast, "224.2.2.1");
  e.nPort = 10001;
  std::strcpy(e.szNote, "studio feed");
  e.nGroup = 7;
  e.bHD = 2;  // as a hand-edited file may leave it
  const RowTexts expected = {"5", "-2", "News", "224.2.2.1", "10001", "studio feed", "7", "2"};
  EXPECT_EQ(FormatRow(4, e), expected);
  e.bHD = 255;
  EXPECT_EQ(FormatRow(0, e)[7], "255");
}

TEST(CopyField, CutsOnlyBetweenCharacters) {
  struct Case {
    const char* what;
    std::string text;
    std::string stored;
    bool whole;
  };
  const std::string euro = "\xE2\x82\xAC";       // 3 bytes
  const std::string emoji = "\xF0\x9F\x93\xBA";  // 4 bytes
  const std::string a126(126, 'a');
  const Case cases[] = {
      {"short", "News", "News", true},
      {"127 bytes fill the field", std::string(127, 'x'), std::string(127, 'x'), true},
      {"128 bytes are cut", std::string(128, 'x'), std::string(127, 'x'), false},
      {"3-byte char across the end", a126 + euro, a126, false},
      {"4-byte char across the end", std::string(125, 'a') + emoji, std::string(125, 'a'), false},
      {"char ending exactly at 127", std::string(124, 'a') + euro + "b", std::string(124, 'a') + euro, false},
      {"NUL ends the text", std::string("ab\0cd", 5), "ab", true},
  };
  for (const Case& c : cases) {
    char field[128];
    std::memset(field, '#', sizeof field);
    EXPECT_EQ(CopyField(field, c.text), c.whole) << c.what;
    EXPECT_EQ(std::string(field), c.stored) << c.what;
  }
}

TEST(CopyField, CutsBetweenCharactersOfTheHeadEndsCodePage) {
  std::string error;
  ASSERT_TRUE(ApplyCodePageOption("GBK", &error)) << error;
  std::string zhong64;  // 64 times 中 in GBK: 128 bytes
  for (int i = 0; i < 64; ++i) zhong64 += "\xD6\xD0";
  char field[128];
  // The UTF-8 rule would keep 127 bytes, the last one half a character.
  EXPECT_FALSE(CopyField(field, zhong64));
  EXPECT_EQ(std::string(field), zhong64.substr(0, 126));
  EXPECT_FALSE(CopyField(field, "a" + zhong64));
  EXPECT_EQ(std::string(field), "a" + zhong64.substr(0, 126));
  SetHeadEndCodePage(CodePage::Utf8());
}

TEST(RefreshTableLocked, NumbersRowsSetsCountAndRaisesFlag) {
  ResetProgramTable();
  std::lock_guard lock(g_TableGuard);
  g_Programs[0] = Entry(30, 0);
  g_Programs[1] = Entry(10, 1);
  g_Programs[2] = Entry(20, 2);
  std::vector<RowTexts> rows;
  RefreshTableLocked(3, true, rows);
  ASSERT_EQ(rows.size(), 3u);
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][0], std::to_string(i + 1));  // "NO." is the row, whatever the number
    EXPECT_EQ(rows[i][1], std::to_string(10 * (i + 1)));
  }
  EXPECT_EQ(g_nProgramCount, 3);
  EXPECT_EQ(g_bListChanged.exchange(0), 1);

  // Count 0 stands for the current rows; it never empties a list.
  g_Programs[0].nNumber = 99;
  RefreshTableLocked(0, false, rows);
  EXPECT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][1], "99");
  EXPECT_EQ(g_bListChanged.exchange(0), 1);

  // With no rows, count 0 leaves the list empty and still raises the flag.
  rows.clear();
  RefreshTableLocked(0, true, rows);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(g_nProgramCount, 0);
  EXPECT_EQ(g_bListChanged.load(), 1);
}

// The digest that tells a list about to be published from one that went on
// the air: any field of any program, the order and the count change it;
// what lies past a text's terminator does not.
TEST(ProgramListDigest, ChangesWithEveryFieldAndOnlyWithWhatTheListShows) {
  ProgramEntry base[2] = {};
  base[0].nNumber = 1;
  CopyField(base[0].szName, "One");
  CopyField(base[0].szMulticast, "224.2.2.1");
  base[1].nNumber = 2;
  const uint64_t digest = ProgramListDigest(base, 2);
  const struct {
    const char* what;
    void (*change)(ProgramEntry*);
  } changes[] = {
      {"number", [](ProgramEntry* e) { e[0].nNumber ^= 1 << 20; }},
      {"name", [](ProgramEntry* e) { CopyField(e[0].szName, "Onf"); }},
      {"address", [](ProgramEntry* e) { CopyField(e[0].szMulticast, "224.2.2.10"); }},
      {"port", [](ProgramEntry* e) { e[1].nPort = 1; }},
      {"remark", [](ProgramEntry* e) { CopyField(e[1].szNote, "r"); }},
      {"group", [](ProgramEntry* e) { e[1].nGroup = -1; }},
      {"HD", [](ProgramEntry* e) { e[1].bHD = 2; }},
      {"order", [](ProgramEntry* e) { std::swap(e[0], e[1]); }},
      {"a text's end moves to the next one",
       [](ProgramEntry* e) {
         CopyField(e[0].szName, "On");
         CopyField(e[0].szMulticast, "e224.2.2.1");
       }},
  };
  for (const auto& c : changes) {
    ProgramEntry changed[2] = {base[0], base[1]};
    c.change(changed);
    EXPECT_NE(ProgramListDigest(changed, 2), digest) << c.what;
  }
  EXPECT_NE(ProgramListDigest(base, 1), digest) << "count";
  EXPECT_EQ(ProgramListDigest(base, 0), ProgramListDigest(nullptr, 0)) << "an empty list is an empty list";

  ProgramEntry same[2] = {base[0], base[1]};
  std::memset(same[0].szName + 4, 'x', sizeof same[0].szName - 4);  // past the terminator
  EXPECT_EQ(ProgramListDigest(same, 2), digest);
}

}  // namespace
