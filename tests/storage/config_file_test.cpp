// Reader and writer of config.txt: hand-edited fixtures, exact writer
// bytes, the 300-program bound and the round trip.
#include "storage/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>

#include "config_test_support.h"

namespace {

const std::string kIncomplete = "参数不完整(%s),正确的格式:@mcast:1:name:multicast:port:note:group_ID#,缺参数";

std::string Incomplete(const std::string& mask, const std::string& names) {
  std::string s = kIncomplete;
  s.replace(s.find("%s"), 2, mask);
  return s + names;
}

// A message that stops the load: the reader's own text, whole and first,
// then where it stopped and how many program lines that cost.
std::string Stopped(const std::string& text, int line, int notLoaded) {
  return text + "\n{path}, line " + std::to_string(line) + ": the load stopped here; " + std::to_string(notLoaded) +
         " program line(s) not loaded.";
}

struct FixtureCase {
  const char* file;
  std::vector<std::string> messages;  // "{path}" stands for the fixture's path
  std::vector<std::string> programs;  // Cells() of each program read
  std::optional<uint32_t> freq;
  std::optional<uint8_t> version;
  std::optional<int32_t> orderByNumber;
};

const FixtureCase kFixtures[] = {
    {"writer_example.txt", {}, {"101|News|224.2.2.1|10001|studio feed|2|1"}, 10, 3, 1},
    {"header_and_end_only.txt", {}, {}, {}, {}, {}},
    {"empty.txt", {Stopped("错误的配置文件:{path},;", 1, 0)}, {}, {}, {}, {}},
    {"header_bare_lf.txt", {Stopped("错误的配置文件!", 1, 1)}, {}, {}, {}, {}},
    {"header_lowercase.txt", {Stopped("错误的配置文件!", 1, 0)}, {}, {}, {}, {}},
    {"header_extra_text.txt", {}, {"1|a|224.2.2.1|1|r|1|0"}, 5, {}, {}},
    // FREQ in capitals and an empty key are unknown; a line without ":" and
    // a comment are skipped; the later freq (no "#") wins; 300 -> 44;
    // index 2 -> 1; "@endless" ends the reading.
    {"settings.txt", {"未知格式:FREQ", "未知格式:"}, {"-12|Sport|224.2.2.2|5004|note|-3|1"}, 20, 44, 1},
    {"field_forms.txt",
     {},
     {"1|six fields|224.002.002.001|1234|remark|5|0", "2|hd at line end|224.2.2.2|1234|remark|6|0",
      "3||224.2.2.3|0||0|1", "4|extra|224.2.2.4|1|r|1|1"},
     {},
     {},
     0},
    // The bad line ends the load; what came before it stays.
    {"only_remark.txt",
     {Stopped(Incomplete("10", "'number','name','mcast','port',"), 4, 2)},
     {"7|kept|224.2.2.7|1|r|1|0"},
     15,
     {},
     {}},
    {"group_at_line_end.txt", {Stopped(Incomplete("1F", ""), 2, 1)}, {}, {}, {}, {}},
    {"no_number_no_note.txt",
     {Stopped(Incomplete("0", "'number','name','mcast','port','note',"), 2, 1)},
     {},
     {},
     {},
     {}},
    {"colon_in_name.txt", {Stopped("错误的IP地址", 4, 1)}, {"1|ok|224.2.2.1|1|r|1|0"}, {}, 2, {}},
    {"all_ones_address.txt", {Stopped("错误的IP地址", 2, 1)}, {}, {}, {}, {}},
    // Longer than the 19-byte field (the conversion alone would take it).
    {"long_address.txt", {Stopped("错误的IP地址", 2, 1)}, {}, {}, {}, {}},
    {"long_texts.txt",
     {"{path}: 2 program(s) had a name or remark longer than 127 bytes; it was cut to fit."},
     {"1|" +
          [] {
            std::string s;
            for (int i = 0; i < 21; ++i) s += "频道";
            return s;
          }() +
          "|224.2.2.1|1|short|1|0",
      "2|b|224.2.2.2|1|" + std::string(127, 'n') + "|1|0",
      "3|" + std::string(127, 'x') + "|224.2.2.3|1|" + std::string(127, 'y') + "|1|0"},
     {},
     {},
     {}},
    // Lines over 511 bytes come in pieces: the unknown key is reported once,
    // a setting starting at byte 512 is read, and a freq whose digits fall
    // in the second piece reads as 0.
    {"long_lines.txt", {"未知格式:weird"}, {}, 0, 7, {}},
};

class ConfigFixture : public testing::TestWithParam<FixtureCase> {};

TEST_P(ConfigFixture, LoadsAsExpected) {
  const FixtureCase& c = GetParam();
  const std::string path = std::string(IPTV_CONFIG_FIXTURES) + "/" + c.file;
  RecordingPrompter prompter;
  const LoadedConfig got = LoadConfig(path, prompter);

  EXPECT_TRUE(got.opened);
  std::vector<std::string> want = c.messages;
  for (std::string& m : want) {
    for (size_t at; (at = m.find("{path}")) != std::string::npos;) m.replace(at, 6, path);
  }
  EXPECT_EQ(prompter.messages, want);
  for (MessageIcon icon : prompter.icons) EXPECT_EQ(icon, MessageIcon::None);
  std::vector<std::string> programs;
  for (const ProgramEntry& e : got.programs) programs.push_back(Cells(e));
  EXPECT_EQ(programs, c.programs);
  EXPECT_EQ(got.freq, c.freq);
  EXPECT_EQ(got.version, c.version);
  EXPECT_EQ(got.orderByNumber, c.orderByNumber);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ConfigFixture, testing::ValuesIn(kFixtures), [](const auto& test) {
  std::string name = test.param.file;
  name = name.substr(0, name.find('.'));
  for (char& ch : name) {
    if (ch == '_') ch = 'X';
  }
  return name;
});

TEST(ConfigReader, AMissingFileIsAnEmptyListWithoutAMessage) {
  TempDir dir;
  RecordingPrompter prompter;
  const LoadedConfig got = LoadConfig(dir.File("config.txt"), prompter);
  EXPECT_FALSE(got.opened);
  EXPECT_EQ(got.status, LoadStatus::Missing);
  EXPECT_FALSE(got.Complete());
  EXPECT_TRUE(got.programs.empty());
  EXPECT_FALSE(got.freq || got.version || got.orderByNumber);
  EXPECT_TRUE(prompter.messages.empty());
}

// Only a regular file is read. Anything else at the path is one message
// naming the path and the reason, at once: a FIFO without a writer does not
// block the load.
TEST(ConfigReader, WhatIsNotARegularFileIsOneMessageAndNeverBlocks) {
  TempDir dir;
  const std::string fifo = dir.File("fifo.txt"), loop = dir.File("loop.txt"), locked = dir.File("locked.txt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_EQ(symlink(loop.c_str(), loop.c_str()), 0);
  WriteBytes(locked, "IPTV multicast IP List\r\n@mcast:1:a:224.2.2.1:1:r:1:0#\r\n@end#\r\n");
  chmod(locked.c_str(), 0);
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {
      {dir.path.string(), "it is a directory, not a regular file"},
      {fifo, "it is a FIFO, not a regular file"},
      {"/dev/null", "it is a character device, not a regular file"},
      {loop, std::strerror(ELOOP)},
      // Root reads whatever the mode says.
      {locked, geteuid() == 0 ? "" : std::strerror(EACCES)},
  };
  for (const auto& c : cases) {
    if (c.reason.empty()) continue;
    SCOPED_TRACE(c.path);
    RecordingPrompter prompter;
    const auto started = std::chrono::steady_clock::now();
    const LoadedConfig got = LoadConfig(c.path, prompter);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(got.status, LoadStatus::Unreadable);
    EXPECT_FALSE(got.Complete());
    EXPECT_TRUE(got.programs.empty());
    EXPECT_EQ(prompter.messages, std::vector<std::string>{c.path + ": cannot be read: " + c.reason});
  }
}

// The line a stop names is the file's own line, however long the lines
// before it, and every program line from the bad one to the end line counts
// as not loaded (those after the end line are no part of the list).
TEST(ConfigReader, AStopNamesTheFilesLineAndCountsWhatWasNotLoaded) {
  std::string text = "IPTV multicast IP List\r\n" + std::string(1200, '#') + "\r\n@mcast:1:a:224.2.2.1:1:r:1:0#\r\n";
  text += "@mcast:2:b:224.2.2.x:1:r:1:0#\r\n";  // line 4
  for (int i = 0; i < 5; ++i) text += "@mcast:3:c:224.2.2.3:1:r:1:0#\r\n@index:0#\r\n";
  text += "@end#\r\n@mcast:9:after:224.2.2.9:1:r:1:0#\r\n";
  std::istringstream in(text);
  RecordingPrompter prompter;
  const LoadedConfig got = LoadConfigFrom(in, "cfg", prompter);
  EXPECT_EQ(got.status, LoadStatus::Stopped);
  EXPECT_EQ(got.stoppedAtLine, 4);
  EXPECT_EQ(got.programLinesNotLoaded, 6);
  EXPECT_EQ(got.programs.size(), 1u);
  EXPECT_FALSE(got.orderByNumber) << "nothing after the bad line is taken";
  EXPECT_EQ(prompter.messages, std::vector<std::string>{
                                   "错误的IP地址\ncfg, line 4: the load stopped here; 6 program line(s) not loaded."});
}

TEST(ConfigReader, ALoadIsCompleteOnlyWhenNothingWasLeftOutOrCut) {
  const struct {
    const char* what;
    std::string body;
    bool complete;
  } cases[] = {
      {"clean, with a comment", "@freq:5#\r\nnote to self\r\n@mcast:1:a:224.2.2.1:1:r:1:0#\r\n", true},
      {"an unknown key", "@FREQ:5#\r\n", false},
      {"a cut name", "@mcast:1:" + std::string(130, 'n') + ":224.2.2.1:1:r:1:0#\r\n", false},
      {"a bad line", "@mcast:1#\r\n", false},
  };
  for (const auto& c : cases) {
    std::istringstream in("IPTV multicast IP List\r\n" + c.body + "@end#\r\n");
    RecordingPrompter prompter;
    EXPECT_EQ(LoadConfigFrom(in, "cfg", prompter).Complete(), c.complete) << c.what;
  }
}

TEST(ConfigReader, StoresAtMost300ProgramsAndSaysHowManyWereLeftOut) {
  const std::vector<RowTexts> rows = VariedRows(302);
  std::string text = FormatConfig(rows, 10, 1, 0);
  // A setting after the surplus lines still counts.
  text.insert(text.find("@end#"), "@version:5#\r\n");
  std::istringstream in(text);
  RecordingPrompter prompter;
  const LoadedConfig got = LoadConfigFrom(in, "cfg", prompter);

  ASSERT_EQ(got.programs.size(), 300u);
  EXPECT_EQ(got.programLinesNotLoaded, 2);
  EXPECT_FALSE(got.Complete());
  EXPECT_EQ(FormatRow(299, got.programs.back()), rows[299]);
  EXPECT_EQ(got.version, 5);
  EXPECT_EQ(
      prompter.messages,
      std::vector<std::string>{"cfg: 2 program line(s) after the 300th were not loaded; the list holds at most 300."});
}

TEST(ConfigWriter, WritesTheExactBytes) {
  const std::vector<RowTexts> example = {{"1", "101", "News", "224.2.2.1", "10001", "studio feed", "2", "1"}};
  EXPECT_EQ(FormatConfig(example, 10, 3, 1), ReadBytes(std::string(IPTV_CONFIG_FIXTURES) + "/writer_example.txt"));

  // Number columns go through atoi, saturating; texts are copied as they
  // are, ":" included; the period is written signed; any order flag is 1.
  const std::vector<RowTexts> odd = {
      {"1", " 12abc", "n:x", "224.2.2.2", "-5", "", "99999999999", "-99999999999"},
      {"2", "", "", "", "x", "r", "+3", "256"},
  };
  EXPECT_EQ(FormatConfig(odd, 4294967295u, 255, 7),
            "IPTV multicast IP List\r\n@freq:-1#\r\n@version:255#\r\n@index:1#\r\n"
            "@mcast:12:n:x:224.2.2.2:-5::2147483647:-2147483648#\r\n"
            "@mcast:0:::0:r:3:256#\r\n@end#\r\n");
  EXPECT_EQ(FormatConfig({}, 0, 0, 0), "IPTV multicast IP List\r\n@freq:0#\r\n@version:0#\r\n@index:0#\r\n@end#\r\n");
}

TEST(ConfigFile, ThreeHundredProgramsRoundTripByteForByte) {
  TempDir dir;
  const std::string path = dir.File("config.txt");
  const std::vector<RowTexts> rows = VariedRows(300);
  ASSERT_TRUE(SaveConfig(path, rows, 4294967295u, 31, 1).ok);
  const std::string bytes = ReadBytes(path);
  EXPECT_EQ(bytes, FormatConfig(rows, 4294967295u, 31, 1));

  RecordingPrompter prompter;
  const LoadedConfig got = LoadConfig(path, prompter);
  EXPECT_TRUE(prompter.messages.empty());
  ASSERT_EQ(got.programs.size(), rows.size());
  std::vector<RowTexts> again;
  for (size_t i = 0; i < got.programs.size(); ++i) {
    again.push_back(FormatRow(static_cast<int>(i), got.programs[i]));
    EXPECT_EQ(again.back(), rows[i]) << "row " << i;
  }
  EXPECT_EQ(got.freq, 4294967295u);
  EXPECT_EQ(got.version, 31);
  EXPECT_EQ(got.orderByNumber, 1);
  EXPECT_EQ(FormatConfig(again, *got.freq, *got.version, *got.orderByNumber), bytes);
}

TEST(SaturatingAtoi, FollowsAtoiAndSaturates) {
  const struct {
    const char* text;
    int32_t want;
  } cases[] = {
      {"", 0},
      {"abc", 0},
      {"- 5", 0},
      {"  42", 42},
      {"\t\n\v\f\r-7x", -7},
      {"+8", 8},
      {"0012", 12},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      {"99999999999999999999999999", INT32_MAX},
      {"-99999999999999999999999999", INT32_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(SaturatingAtoi(c.text), c.want) << "'" << c.text << "'";
}

TEST(ConfigPath, IsBesideTheExecutable) {
  const std::filesystem::path path = ConfigPathBesideExecutable();
  EXPECT_EQ(path.filename(), "config.txt");
  EXPECT_TRUE(std::filesystem::equivalent(path.parent_path(), IPTV_TEST_BINARY_DIR)) << path;
}

}  // namespace
