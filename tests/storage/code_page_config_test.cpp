// config.txt in a head end's code page other than UTF-8 (GBK here): the
// bytes go through as they are, cuts keep whole characters, and the
// window's code page choice is kept in the per-user store.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <sstream>
#include <string>

#include "config_test_support.h"
#include "storage/code_page_choice.h"
#include "storage/config_file.h"
#include "storage/interface_choice.h"
#include "text/code_page.h"

namespace {

const std::string kFixture = std::string(IPTV_CONFIG_FIXTURES) + "/gbk.txt";

// The head end's code page for one test.
struct ScopedCodePage {
  explicit ScopedCodePage(const char* name) {
    std::string error;
    EXPECT_TRUE(ApplyCodePageOption(name, &error)) << error;
  }
  ~ScopedCodePage() { SetHeadEndCodePage(CodePage::Utf8()); }
};

std::string Gbk(const char* utf8) { return CodePage::Named("GBK", nullptr)->FromUtf8(utf8).value_or("?"); }

std::vector<RowTexts> Rows(const LoadedConfig& loaded) {
  std::vector<RowTexts> rows;
  for (size_t i = 0; i < loaded.programs.size(); ++i)
    rows.push_back(FormatRow(static_cast<int>(i), loaded.programs[i]));
  return rows;
}

TEST(GbkConfig, LoadsTheBytesAndWritesThemBackByteForByte) {
  ScopedCodePage gbk("GBK");
  const std::string original = ReadBytes(kFixture);
  ASSERT_FALSE(original.empty());
  RecordingPrompter messages;
  const LoadedConfig loaded = LoadConfig(kFixture, messages);
  EXPECT_TRUE(messages.messages.empty()) << messages.messages.front();
  ASSERT_EQ(loaded.programs.size(), 3u);
  EXPECT_EQ(std::string(loaded.programs[0].szName), Gbk("中央电视台一套"));
  EXPECT_EQ(std::string(loaded.programs[0].szNote), Gbk("北京演播室"));
  EXPECT_EQ(std::string(loaded.programs[1].szName), Gbk("凤凰卫视中文台"));
  // Trail bytes '@' and '\' stay inside their characters.
  EXPECT_EQ(std::string(loaded.programs[1].szNote), Gbk("丂乗 @\\"));
  EXPECT_EQ(HeadEndCodePage().ToUtf8(loaded.programs[1].szNote), "丂乗 @\\");

  EXPECT_EQ(FormatConfig(Rows(loaded), *loaded.freq, *loaded.version, *loaded.orderByNumber), original);
  TempDir dir;
  const std::string path = dir.File("config.txt");
  ASSERT_TRUE(SaveConfig(path, Rows(loaded), *loaded.freq, *loaded.version, *loaded.orderByNumber).ok);
  EXPECT_EQ(ReadBytes(path), original);
}

TEST(GbkConfig, AnOverlongNameIsCutBetweenCharacters) {
  ScopedCodePage gbk("GBK");
  std::string name;
  for (int i = 0; i < 70; ++i) name += Gbk("台");  // 140 bytes
  std::istringstream in("IPTV multicast IP List\r\n@mcast:1:" + name + ":224.2.2.1:10001:" + "a" + name +
                        ":1:0#\r\n@end#\r\n");
  RecordingPrompter messages;
  const LoadedConfig loaded = LoadConfigFrom(in, "config.txt", messages);
  ASSERT_EQ(loaded.programs.size(), 1u);
  EXPECT_EQ(std::string(loaded.programs[0].szName), name.substr(0, 126));
  EXPECT_EQ(std::string(loaded.programs[0].szNote), "a" + name.substr(0, 126));
}

TEST(CodePageChoice, GivenNamesAreKeptStoredOnesUsedBadOnesReported) {
  TempDir dir;
  CRegistryValue store(dir.path.string());
  const auto stored = [&]() -> std::optional<std::string> {
    char buffer[256] = {};
    if (store.ReadString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, CODE_PAGE_VALUE_NAME, buffer) != 0) return {};
    return std::string(buffer, strnlen(buffer, sizeof buffer));
  };
  setenv("LC_ALL", "C", 1);  // the locale's code page: UTF-8

  CodePageStartup s = ChooseCodePage(store, std::nullopt);
  EXPECT_TRUE(s.codePage.IsUtf8());
  EXPECT_EQ(s.message, "");
  EXPECT_FALSE(stored());

  s = ChooseCodePage(store, "gbk");
  EXPECT_EQ(s.codePage.Name(), "GBK");
  EXPECT_EQ(s.message, "");
  EXPECT_EQ(stored(), "gbk");
  // The next start without the option keeps it.
  EXPECT_EQ(ChooseCodePage(store, std::nullopt).codePage.Name(), "GBK");

  s = ChooseCodePage(store, "KLINGON");
  EXPECT_TRUE(s.codePage.IsUtf8());
  EXPECT_EQ(s.message,
            "--codepage: unknown code page 'KLINGON'; the texts are read and written in the locale's code page UTF-8");
  EXPECT_EQ(stored(), "gbk");

  ASSERT_TRUE(store.WriteString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, CODE_PAGE_VALUE_NAME, "UTF-16"));
  s = ChooseCodePage(store, std::nullopt);
  EXPECT_TRUE(s.codePage.IsUtf8());
  EXPECT_EQ(s.message.rfind("stored code page: code page 'UTF-16' cannot be used", 0), 0u) << s.message;
  unsetenv("LC_ALL");
}

}  // namespace
