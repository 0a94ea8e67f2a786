#include "text/code_page.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// 中央电视台 in GBK, and the same in UTF-8.
const std::string kCctvGbk = "\xD6\xD0\xD1\xEB\xB5\xE7\xCA\xD3\xCC\xA8";
const std::string kCctvUtf8 = "中央电视台";
const std::string kZhong = "\xD6\xD0";       // 中
const std::string kKao = "\x81\x40";         // 丂: its trail byte is '@'
const std::string kUnassigned = "\xA2\xAB";  // a lead and a trail byte that GBK leaves empty

CodePage Gbk() {
  std::string error;
  std::optional<CodePage> cp = CodePage::Named("GBK", &error);
  EXPECT_TRUE(cp) << error;
  return cp.value_or(CodePage());
}

TEST(CodePageNamed, TakesWhatIconvKnowsAndCanCarryTheFile) {
  struct Case {
    const char* name;
    const char* canonical;  // nullptr: refused
    const char* errorStart;
  };
  const Case cases[] = {
      {"GBK", "GBK", ""},
      {"gbk", "GBK", ""},
      {"936", "CP936", ""},
      {"gb18030", "GB18030", ""},
      {"Big5", "BIG5", ""},
      {"utf8", "UTF-8", ""},
      {"65001", "UTF-8", ""},
      {"", nullptr, "unknown code page ''"},
      {"KLINGON", nullptr, "unknown code page 'KLINGON'"},
      {"GBK//TRANSLIT", nullptr, "unknown code page"},
      {"UTF-16", nullptr, "code page 'UTF-16' cannot be used: it does not keep ASCII"},
      {"UTF-7", nullptr, "code page 'UTF-7' cannot be used"},
      {"ISO-2022-JP", nullptr, "code page 'ISO-2022-JP' cannot be used"},
      {"EBCDIC-US", nullptr, "code page 'EBCDIC-US' cannot be used"},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::optional<CodePage> cp = CodePage::Named(c.name, &error);
    if (c.canonical == nullptr) {
      EXPECT_FALSE(cp) << c.name;
      EXPECT_EQ(error.rfind(c.errorStart, 0), 0u) << c.name << ": " << error;
    } else {
      ASSERT_TRUE(cp) << c.name << ": " << error;
      EXPECT_EQ(cp->Name(), c.canonical);
      EXPECT_EQ(cp->IsUtf8(), std::string(c.canonical) == "UTF-8") << c.name;
    }
  }
}

TEST(CodePageFromLocale, CAndPosixAndMissingLocalesPassBytesThrough) {
  const char* saved = std::getenv("LC_ALL");
  const std::string restore = saved != nullptr ? saved : "";
  for (const char* locale : {"C", "POSIX", "C.UTF-8", "xx_YY.GBK-not-installed"}) {
    setenv("LC_ALL", locale, 1);
    EXPECT_TRUE(CodePage::FromLocale().IsUtf8()) << locale;
    std::string error;
    const std::optional<CodePage> named = CodePage::Named("locale", &error);
    ASSERT_TRUE(named) << locale;
    EXPECT_TRUE(named->IsUtf8()) << locale;
  }
  if (saved != nullptr)
    setenv("LC_ALL", restore.c_str(), 1);
  else
    unsetenv("LC_ALL");
}

TEST(CodePageCutLength, NeverSplitsAGbkCharacter) {
  const CodePage gbk = Gbk();
  struct Case {
    const char* what;
    std::string text;
    size_t max;
    size_t cut;
  };
  std::string chars64;
  for (int i = 0; i < 64; ++i) chars64 += kZhong;
  const Case cases[] = {
      {"fits", kCctvGbk, 127, kCctvGbk.size()},
      {"64 characters: the 64th would be split", chars64, 127, 126},
      {"one ASCII byte first: 63 characters fit", "a" + chars64, 127, 127},
      {"trail byte in the ASCII range", std::string(126, 'a') + kKao, 127, 126},
      {"trail byte in the ASCII range, fits", std::string(125, 'a') + kKao + "b", 127, 127},
      {"unassigned pair stays one character", "a" + kUnassigned + kZhong, 2, 1},
      {"unassigned pair before the cut", kUnassigned + kZhong, 3, 2},
      {"lead byte without a trail stands alone",
       "\x81"
       "ab",
       2, 2},
      {"cut right after a character", kCctvGbk, 4, 4},
      {"cut inside the third character", kCctvGbk, 5, 4},
  };
  for (const Case& c : cases) EXPECT_EQ(gbk.CutLength(c.text, c.max), c.cut) << c.what;

  // UTF-8 keeps its own rule: back to the lead byte of the cut character.
  EXPECT_EQ(CodePage::Utf8().CutLength(kCctvUtf8, 7), 6u);
  EXPECT_EQ(CodePage::Utf8().CutLength("abc", 2), 2u);
}

TEST(CodePageConversion, GbkToUtf8AndBack) {
  const CodePage gbk = Gbk();
  EXPECT_EQ(gbk.ToUtf8(kCctvGbk), kCctvUtf8);
  EXPECT_EQ(gbk.FromUtf8(kCctvUtf8), kCctvGbk);
  EXPECT_EQ(gbk.FromUtf8("News 1"), "News 1");

  // A character GBK has no place for.
  EXPECT_FALSE(gbk.FromUtf8("TV \xF0\x9F\x93\xBA"));
  EXPECT_EQ(gbk.FromUtf8Lossy("TV \xF0\x9F\x93\xBA!"), "TV ?!");
  EXPECT_FALSE(gbk.FromUtf8("\xFF"));  // not UTF-8 at all

  // Bytes that are no character: each handed over on its own, an
  // unassigned pair as a pair, and the characters after them still found.
  std::string out;
  const auto hex = [](std::string& o, unsigned char b) { o += "<" + std::to_string(b) + ">"; };
  EXPECT_FALSE(gbk.ToUtf8(kUnassigned + kZhong +
                              "\x81"
                              " \xFF",
                          out, hex));
  EXPECT_EQ(out, "<162><171>中<129> <255>");
  out.clear();
  EXPECT_TRUE(gbk.ToUtf8(kCctvGbk, out, hex));
  EXPECT_EQ(out, kCctvUtf8);
  EXPECT_EQ(gbk.ToUtf8("\xFF"), "\xEF\xBF\xBD");

  // UTF-8 passes through, refusing what is not UTF-8.
  EXPECT_EQ(CodePage::Utf8().ToUtf8(kCctvUtf8), kCctvUtf8);
  EXPECT_EQ(CodePage::Utf8().ToUtf8("a\xD6\xD0"), "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(ApplyCodePageOption, SetsTheHeadEndsCodePageOnlyForAGoodName) {
  std::string error;
  ASSERT_TRUE(ApplyCodePageOption("cp936", &error)) << error;
  EXPECT_EQ(HeadEndCodePage().Name(), "CP936");
  EXPECT_FALSE(ApplyCodePageOption("nonsense", &error));
  EXPECT_EQ(error, "unknown code page 'nonsense'");
  EXPECT_EQ(HeadEndCodePage().Name(), "CP936");
  SetHeadEndCodePage(CodePage::Utf8());
}

}  // namespace
