#include "editing/list_exchange.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "broadcast/section_encoder.h"
#include "editing/value_form.h"
#include "text/code_page.h"

namespace {

struct Recorder : Prompter {
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  bool answer = false;
  void ShowMessage(const std::string& text, MessageIcon) override { messages.push_back(text); }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    questions.push_back(caption + "|" + text);
    return answer;
  }
};

struct CountingForm : ValueForm {
  int shows = 0;
  void ShowRows(const std::vector<RowTexts>& rows) override {
    ++shows;
    ValueForm::ShowRows(rows);
  }
};

class ListExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramTable();
    char tmpl[] = "/tmp/iptv-exchange-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    editor = std::make_unique<ProgramEditor>(form, prompter, dir + "/config.txt");
    editor->SetDefaults();
    editor->UpdateData(false);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // Adds through the window's command, as the operator types it.
  void Add(uint32_t number, const std::string& name, uint32_t address, uint32_t port, const std::string& note = "",
           uint32_t group = 0, bool hd = false) {
    form.SetText(FormField::Number, std::to_string(number));
    form.SetText(FormField::Name, name);
    form.SetAddressOrBlank(address);
    form.SetText(FormField::Port, std::to_string(port));
    form.SetText(FormField::Note, note);
    form.SetText(FormField::Group, std::to_string(group));
    form.SetHdChecked(hd);
    editor->OnAdd();
  }
  ImportResult Import(const std::string& data, ListFormat format) {
    return ImportListData(*editor, prompter, data, "list", format);
  }
  std::string File() const {
    std::ifstream in(dir + "/config.txt", std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
  }
  // Starts over with an empty list and the same settings.
  void EmptyList() {
    std::filesystem::remove(dir + "/config.txt");
    editor->OnReloadConfig();
  }

  CountingForm form;
  Recorder prompter;
  std::string dir;
  std::unique_ptr<ProgramEditor> editor;
};

constexpr uint32_t kBase = 0xE0020200u;  // 224.2.2.0

TEST_F(ListExchangeTest, ExportThenImportGivesTheSameList) {
  for (ListFormat format : {ListFormat::Csv, ListFormat::M3u}) {
    SCOPED_TRACE(format == ListFormat::Csv ? "csv" : "m3u");
    EmptyList();
    // Texts with the characters each format must carry: separators, quotes,
    // blanks at the ends, bytes past ASCII, an empty name.
    Add(101, "News, \"late\"", kBase + 1, 10001, "studio feed, \"A\"", 2, true);
    Add(7, " Sport ", kBase + 2, 1234, "", 0, false);
    Add(4000000000u, "", kBase + 3, 0, "备注", 65535, false);
    Add(33, "新闻 HD=1", 0xEF000001u, 65535, "#EXTINF x", 9, true);
    ASSERT_TRUE(prompter.messages.empty()) << prompter.messages.front();
    const std::vector<RowTexts> before = editor->Rows();
    const std::string fileBefore = File();
    const std::string exported = ExportList(before, format);

    EmptyList();
    const int shows = form.shows;
    const ImportResult result = Import(exported, format);
    EXPECT_EQ(result.outcome, ImportResult::Imported);
    EXPECT_TRUE(result.saved);
    EXPECT_EQ(result.imported, 4);
    EXPECT_TRUE(prompter.messages.empty()) << prompter.messages.front();
    EXPECT_TRUE(prompter.questions.empty());
    EXPECT_EQ(form.shows, shows + 1) << "one refresh for the whole import";
    EXPECT_EQ(editor->Rows(), before);
    // The version moved on with the new list; everything else is as before.
    auto withoutVersion = [](std::string f) {
      return f.erase(f.find("@version:"), f.find("@index") - f.find("@version:"));
    };
    EXPECT_EQ(withoutVersion(File()), withoutVersion(fileBefore));
    EXPECT_EQ(ExportList(editor->Rows(), format), exported);
  }
}

// In a GBK head end the files are still UTF-8, as players and spreadsheets
// read them; importing gives back the GBK bytes, and a character GBK has no
// place for refuses its row.
TEST_F(ListExchangeTest, FilesAreUtf8InAnotherCodePage) {
  std::string why;
  const std::optional<CodePage> gbk = CodePage::Named("GBK", &why);
  ASSERT_TRUE(gbk) << why;
  SetHeadEndCodePage(*gbk);
  struct Restore {
    ~Restore() { SetHeadEndCodePage(CodePage::Utf8()); }
  } restore;
  const std::string news = "\xD0\xC2\xCE\xC5";    // 新闻 in GBK
  const std::string remark = "\xB1\xB8\xD7\xA2";  // 备注
  Add(101, news, kBase + 1, 10001, remark, 2);
  ASSERT_TRUE(prompter.messages.empty()) << prompter.messages.front();
  const std::vector<RowTexts> before = editor->Rows();
  for (ListFormat format : {ListFormat::Csv, ListFormat::M3u}) {
    SCOPED_TRACE(format == ListFormat::Csv ? "csv" : "m3u");
    const std::string exported = ExportList(before, format);
    EXPECT_NE(exported.find("新闻"), std::string::npos) << exported;
    EXPECT_NE(exported.find("备注"), std::string::npos) << exported;
    EmptyList();
    EXPECT_EQ(Import(exported, format).outcome, ImportResult::Imported);
    EXPECT_EQ(editor->Rows(), before);
  }
  prompter.answer = true;
  const ImportResult r = Import(
      "Number,Name,Multicast,Port\r\n7,\xF0\x9F\x93\xBA TV,224.3.3.1,1\r\n8,\xD0\xC2,224.3.3.2,2\r\n"
      "9,新闻,224.3.3.3,3\r\n",
      ListFormat::Csv);
  EXPECT_EQ(r.outcome, ImportResult::Partly);
  EXPECT_EQ(r.imported, 1);
  ASSERT_EQ(prompter.questions.size(), 1u);
  EXPECT_NE(prompter.questions[0].find("line 2: Name '\xF0\x9F\x93\xBA TV' is not UTF-8, or holds a character that "
                                       "code page GBK has no place for"),
            std::string::npos)
      << prompter.questions[0];
  EXPECT_NE(prompter.questions[0].find("line 3: Name"), std::string::npos) << prompter.questions[0];
}

TEST_F(ListExchangeTest, ExportFormats) {
  Add(101, "News", kBase + 1, 10001, "studio, feed", 2, true);
  Add(102, "Film", kBase + 2, 10002);
  EXPECT_EQ(ExportList(editor->Rows(), ListFormat::M3u),
            "#EXTM3U\n"
            "#EXTINF:-1 tvg-chno=\"101\" group-title=\"2\" iptv-hd=\"1\",News\n"
            "#IPTV-REMARK:studio, feed\n"
            "udp://@224.2.2.1:10001\n"
            "#EXTINF:-1 tvg-chno=\"102\" group-title=\"0\",Film\n"
            "udp://@224.2.2.2:10002\n");
  EXPECT_EQ(ExportList(editor->Rows(), ListFormat::Csv),
            "Number,Name,Multicast,Port,Remark,Group,HD\r\n"
            "101,News,224.2.2.1,10001,\"studio, feed\",2,1\r\n"
            "102,Film,224.2.2.2,10002,,0,0\r\n");
  EXPECT_EQ(ListFormatForPath("/x/a.M3U8"), ListFormat::M3u);
  EXPECT_EQ(ListFormatForPath("a.m3u"), ListFormat::M3u);
  EXPECT_EQ(ListFormatForPath("a.csv"), ListFormat::Csv);
}

// Every row that fails Add's tests (or cannot be read) is named with its
// line and reason; the operator decides about the rest, and one edit takes
// them.
TEST_F(ListExchangeTest, BadRowsAreReportedWithTheirLines) {
  Add(1, "Old", kBase + 1, 10001);
  const std::string fileBefore = File();
  const std::string rows =
      "0,,zero,224.3.3.1,1,,,\r\n"                // line 2: number 0
      "1,a,\"Multi\r\nline\",224.3.3.2,2,,,\r\n"  // line 3 (two lines): a line break in the name
      "2,b,,,3,,,\r\n"                            // line 5: address blank
      "3,c,good,224.3.3.4,4,r,1,1\r\n"            // line 6: passes
      "4,d,x,300.1.1.1,5,,,\r\n"                  // line 7: not an address
      "5,e,x,224.3.3.6,70000,,,\r\n"              // line 8: not a port
      "6,f,x,224.2.2.1,10001,,,\r\n"              // line 9: the list holds it already
      "7,g,x,224.3.3.4,4,,,\r\n"                  // line 10: line 6 took it
      "8,h,x,224.3.3.9,9,,abc,\r\n"               // line 11: group is no number
      "\r\n"
      "9,i,a:b,224.3.3.10,10,,,\r\n"        // line 13: ':' in the name
      "10,j,ok,224.3.3.11,11,,,,extra\r\n"  // line 14: one field too many
      "11,k,last,224.3.3.12,12\r\n";        // line 15: passes, short row
  // A header without Number refuses the file as a whole.
  EXPECT_EQ(Import("Numbr,x,Name,MULTICAST,Port,remark,Group,HD\r\n" + rows, ListFormat::Csv).outcome,
            ImportResult::NotImported);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_NE(prompter.messages[0].find("line 1: the header row has no column Number"), std::string::npos)
      << prompter.messages[0];
  prompter.messages.clear();

  // Columns are found by their names, in any case; others are ignored.
  const std::string fixed = "Number,x,Name,MULTICAST,Port,remark,Group,HD\r\n" + rows;
  for (bool accept : {false, true}) {
    prompter.questions.clear();
    prompter.answer = accept;
    const ImportResult result = Import(fixed, ListFormat::Csv);
    ASSERT_EQ(prompter.questions.size(), 1u);
    EXPECT_EQ(prompter.questions[0],
              "Import|list: 10 of 12 rows cannot be added:\n"
              "line 2: Program number should be 1-65535\n"
              "line 3: Name must not contain ':' or a line break\n"
              "line 5: Multicastis empty\n"
              "line 7: Multicast '300.1.1.1' is not an IPv4 address\n"
              "line 8: Port 70000 is not a UDP port (0-65535)\n"
              "line 9: 224.2.2.1:10001:has been exist\n"
              "line 10: 224.3.3.4:4:has been exist\n"
              "line 11: Group 'abc': “请填入一个正整数。”\n"
              "line 13: Name must not contain ':' or a line break\n"
              "line 14: 9 fields, the header names 8\n"
              "Import the 2 rows that passed?");
    EXPECT_EQ(result.refused, 10);
    if (!accept) {
      EXPECT_EQ(result.outcome, ImportResult::NotImported);
      EXPECT_EQ(editor->Rows().size(), 1u);
      EXPECT_EQ(File(), fileBefore);
    } else {
      EXPECT_EQ(result.outcome, ImportResult::Partly);
      EXPECT_EQ(result.imported, 2);
      ASSERT_EQ(editor->Rows().size(), 3u);
      EXPECT_EQ(editor->Rows()[1], (RowTexts{"2", "3", "good", "224.3.3.4", "4", "r", "1", "1"}));
      EXPECT_EQ(editor->Rows()[2], (RowTexts{"3", "11", "last", "224.3.3.12", "12", "", "0", "0"}));
    }
  }
  EXPECT_TRUE(prompter.messages.empty());

  // An open quote ends the read with its line; nothing is asked.
  prompter.questions.clear();
  EXPECT_EQ(Import("Number,Name,Multicast,Port\n1,\"open,224.1.1.1,1\n", ListFormat::Csv).outcome,
            ImportResult::NotImported);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0], "Cannot import list: line 2: a quoted field is not closed");
  EXPECT_TRUE(prompter.questions.empty());
}

// An import takes room as the Adds would: the 300 programs and the six
// sections count the rows taken before.
TEST_F(ListExchangeTest, CapacityCountsTheRowsTakenBefore) {
  std::string csv = "Number,Name,Multicast,Port\n";
  for (int i = 1; i <= 302; ++i)
    csv += std::to_string(i) + ",P," + "224.5." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ",1\n";
  prompter.answer = true;
  const ImportResult result = Import(csv, ListFormat::Csv);
  EXPECT_EQ(result.imported, 300);
  ASSERT_EQ(prompter.questions.size(), 1u);
  EXPECT_NE(prompter.questions[0].find("line 302: Multicast MAX:300\nline 303: Multicast MAX:300\n"), std::string::npos)
      << prompter.questions[0];
  EXPECT_EQ(editor->Rows().size(), 300u);

  // Long names fill the six sections long before 300 programs.
  EmptyList();
  prompter.questions.clear();
  csv = "Number,Name,Multicast,Port\n";
  for (int i = 1; i <= 100; ++i)
    csv += std::to_string(i) + "," + std::string(127, 'n') + ",224.6.0." + std::to_string(i) + ",1\n";
  const ImportResult full = Import(csv, ListFormat::Csv);
  ASSERT_EQ(prompter.questions.size(), 1u);
  EXPECT_NE(prompter.questions[0].find("The play list is full"), std::string::npos);
  EXPECT_GT(full.imported, 0);
  EXPECT_EQ(full.imported + full.refused, 100);
  int leftOut = -1;
  EXPECT_TRUE(PlayListFits(g_Programs, g_nProgramCount, &leftOut));
  EXPECT_EQ(leftOut, 0);
}

// M3U files from elsewhere: the forms of stream address players write, and
// what a row without our attributes lacks.
TEST_F(ListExchangeTest, M3uFromOtherPlaylists) {
  const std::string m3u =
      "\xEF\xBB\xBF#EXTM3U x-tvg-url=\"http://guide\"\r\n"
      "#EXTINF:-1 tvg-id=\"a,b\" tvg-chno=\"5\" group-title=\"3\" tvg-logo=\"l.png\",Five, the channel\r\n"
      "#EXTVLCOPT:network-caching=1000\r\n"
      "udp://10.0.0.1@239.1.1.5:5000\r\n"
      "#EXTINF:-1 tvg-chno=6,Six\r\n"
      "rtp://239.1.1.6:5002/\r\n"
      "#EXTINF:-1 group-title=\"News\",No number\r\n"
      "udp://@239.1.1.7:5004\r\n"
      "#EXTINF:-1 tvg-chno=\"8\",Web\r\n"
      "http://example.invalid/stream\r\n"
      "udp://@239.1.1.9:5008\r\n";
  prompter.answer = true;
  const ImportResult result = Import(m3u, ListFormat::M3u);
  EXPECT_EQ(result.imported, 2);
  ASSERT_EQ(prompter.questions.size(), 1u);
  EXPECT_EQ(prompter.questions[0],
            "Import|list: 3 of 5 rows cannot be added:\n"
            "line 7: Number '': “请填入一个正整数。”\n"
            "line 9: 'http://example.invalid/stream' is not a udp:// or rtp:// address with a port\n"
            "line 11: Number '': “请填入一个正整数。”\n"
            "Import the 2 rows that passed?");
  ASSERT_EQ(editor->Rows().size(), 2u);
  EXPECT_EQ(editor->Rows()[0], (RowTexts{"1", "5", "Five, the channel", "239.1.1.5", "5000", "", "3", "0"}));
  EXPECT_EQ(editor->Rows()[1], (RowTexts{"2", "6", "Six", "239.1.1.6", "5002", "", "0", "0"}));
}

TEST_F(ListExchangeTest, FilesThatCannotBeReadAndEmptyFiles) {
  EXPECT_EQ(ImportList(*editor, prompter, dir + "/none.csv", ListFormat::Csv).outcome, ImportResult::NotImported);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0], "Cannot import " + dir + "/none.csv: No such file or directory");
  prompter.messages.clear();
  const ImportResult empty = Import("Number,Name,Multicast,Port\r\n", ListFormat::Csv);
  EXPECT_EQ(empty.outcome, ImportResult::Imported);
  EXPECT_EQ(empty.imported, 0);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0], "list holds no programs; nothing was imported");
  EXPECT_EQ(File(), "<missing>");

  // Export replaces its file whole.
  Add(1, "One", kBase + 1, 1);
  const std::string out = dir + "/out.m3u";
  ASSERT_TRUE(ExportListToFile(editor->Rows(), out, ListFormatForPath(out)).ok);
  std::ifstream in(out, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), ExportList(editor->Rows(), ListFormat::M3u));
  EXPECT_FALSE(ExportListToFile(editor->Rows(), dir + "/no/such/dir.csv", ListFormat::Csv).ok);
}

}  // namespace
