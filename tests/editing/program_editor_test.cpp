#include "editing/program_editor.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "editing/edit_budget.h"

namespace {

constexpr uint32_t Addr(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a << 24 | b << 16 | c << 8 | d; }

constexpr const char* kNumberPrompt = "“请填入一个正整数。”";

// Asked from another thread, so that it is well defined while this thread
// might hold the guard.
bool GuardFree() {
  return std::async(std::launch::async,
                    [] {
                      if (!g_TableGuard.try_lock()) return false;
                      g_TableGuard.unlock();
                      return true;
                    })
      .get();
}

size_t Index(FormField f) { return static_cast<size_t>(f); }

struct FakeForm : FormView {
  std::array<std::string, 7> texts;
  bool order = false;
  bool hd = false;
  bool blank = false;
  uint32_t address = 0;
  std::vector<RowTexts> shown;
  int showCalls = 0;
  std::vector<FormField> focused;
  const ProgramEditor* editor = nullptr;
  int writtenOutsideExchange = 0;
  int shownUnderGuard = 0;

  std::string Text(FormField f) const override { return texts[Index(f)]; }
  void SetText(FormField f, const std::string& t) override {
    if (editor && !editor->InExchange()) ++writtenOutsideExchange;
    texts[Index(f)] = t;
  }
  bool Checked(FormField) const override { return order; }
  void SetChecked(FormField, bool c) override { order = c; }
  void FocusAndSelectAll(FormField f) override { focused.push_back(f); }
  bool HdChecked() const override { return hd; }
  void SetHdChecked(bool c) override { hd = c; }
  bool AddressBlank() const override { return blank; }
  uint32_t Address() const override { return address; }
  void SetAddress(uint32_t a) override {
    address = a;
    blank = false;
  }
  void ShowRows(const std::vector<RowTexts>& rows) override {
    if (!GuardFree()) ++shownUnderGuard;
    shown = rows;
    ++showCalls;
  }
};

// Records every message and answers questions from a script (Cancel once
// the script is used up).
struct FakePrompter : Prompter {
  std::vector<std::string> messages;
  std::vector<MessageIcon> icons;
  std::vector<std::string> questions;
  std::vector<std::string> captions;
  std::deque<bool> answers;
  std::function<void()> onAsk;
  int underGuard = 0;

  void ShowMessage(const std::string& text, MessageIcon icon) override {
    if (!GuardFree()) ++underGuard;
    messages.push_back(text);
    icons.push_back(icon);
  }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    if (!GuardFree()) ++underGuard;
    questions.push_back(text);
    captions.push_back(caption);
    if (onAsk) onAsk();
    if (answers.empty()) return false;
    const bool ok = answers.front();
    answers.pop_front();
    return ok;
  }
  void Clear() {
    messages.clear();
    icons.clear();
    questions.clear();
    captions.clear();
  }
};

struct Program {
  uint32_t number;
  std::string name;
  uint32_t address;
  uint32_t port = 10001;
  std::string note = "";
  uint32_t group = 0;
  bool hd = false;
};

std::string Config(uint32_t freq, int version, int index, const std::vector<std::string>& lines) {
  std::string s = "IPTV multicast IP List\r\n@freq:" + std::to_string(freq) +
                  "#\r\n@version:" + std::to_string(version) + "#\r\n@index:" + std::to_string(index) + "#\r\n";
  for (const std::string& l : lines) s += l + "\r\n";
  return s + "@end#\r\n";
}

class EditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramTable();
    char tmpl[] = "/tmp/iptv-editor-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    path = dir + "/config.txt";
    editor = std::make_unique<ProgramEditor>(form, prompter, path);
    form.editor = editor.get();
    editor->SetDefaults();
    form.address = Addr(224, 2, 2, 1);
    editor->UpdateData(false);
  }
  void TearDown() override {
    EXPECT_EQ(form.writtenOutsideExchange, 0) << "the form was written outside the exchange";
    EXPECT_EQ(form.shownUnderGuard, 0) << "rows shown while the table guard was held";
    EXPECT_EQ(prompter.underGuard, 0) << "a message shown while the table guard was held";
    std::filesystem::remove_all(dir);
  }

  void Enter(const Program& p) {
    form.texts[Index(FormField::Port)] = std::to_string(p.port);
    form.texts[Index(FormField::Number)] = std::to_string(p.number);
    form.texts[Index(FormField::Name)] = p.name;
    form.texts[Index(FormField::Note)] = p.note;
    form.texts[Index(FormField::Group)] = std::to_string(p.group);
    form.address = p.address;
    form.blank = false;
    form.hd = p.hd;
  }
  void Add(const Program& p) {
    Enter(p);
    editor->OnAdd();
  }
  std::vector<std::string> Column(int c) const {
    std::vector<std::string> out;
    for (const RowTexts& r : editor->Rows()) out.push_back(r[static_cast<size_t>(c)]);
    return out;
  }
  std::string File() const {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void WriteFile(const std::string& bytes) const { std::ofstream(path, std::ios::binary) << bytes; }
  static std::string ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Places programs straight into the table, as a load would.
  void Place(const std::vector<ProgramEntry>& entries) {
    {
      std::lock_guard lock(g_TableGuard);
      std::copy(entries.begin(), entries.end(), g_Programs);
    }
    editor->RefreshList(static_cast<int>(entries.size()), false);
  }

  FakeForm form;
  FakePrompter prompter;
  std::string dir, path;
  std::unique_ptr<ProgramEditor> editor;
};

// The operator's 50-program file; `badLine` (the file's line, the header
// being 1) gets an address that does not convert.
std::string FiftyPrograms(int badLine = 0) {
  std::vector<std::string> lines;
  for (int i = 0; i < 50; ++i) {
    const bool bad = badLine == 5 + i;  // header, freq, version and index come first
    lines.push_back("@mcast:" + std::to_string(i + 1) + ":P" + std::to_string(i + 1) + ":224.3.3." +
                    (bad ? std::string("x") : std::to_string(i + 1)) + ":1234:r:0:0#");
  }
  return Config(10, 3, 1, lines);
}

std::vector<std::string> KeptCopies(const std::string& dir) {
  std::vector<std::string> kept;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().find(".bad-") != std::string::npos) kept.push_back(e.path().string());
  return kept;
}

ProgramEntry Entry(int32_t number, const std::string& name, const std::string& address, int32_t port = 10001) {
  ProgramEntry e{};
  e.nNumber = number;
  CopyField(e.szName, name);
  CopyField(e.szMulticast, address);
  e.nPort = port;
  return e;
}

TEST_F(EditorTest, DefaultsAreWrittenToTheForm) {
  const std::array<std::string, 7> expected = {"10001", "0", "Name", "", "10", "", "0"};
  for (FormField f :
       {FormField::Port, FormField::Number, FormField::Name, FormField::Note, FormField::SendRate, FormField::Group}) {
    EXPECT_EQ(form.texts[Index(f)], expected[Index(f)]);
  }
  EXPECT_TRUE(form.order);
}

TEST_F(EditorTest, AddStoresTheProgramShowsItAndSavesTheFile) {
  Add({101, "News", Addr(224, 2, 2, 1), 10001, "studio feed", 2, true});
  EXPECT_TRUE(prompter.messages.empty());
  const RowTexts row = {"1", "101", "News", "224.2.2.1", "10001", "studio feed", "2", "1"};
  ASSERT_EQ(editor->Rows().size(), 1u);
  EXPECT_EQ(editor->Rows()[0], row);
  EXPECT_EQ(form.shown, editor->Rows());
  EXPECT_EQ(g_nProgramCount, 1);
  EXPECT_EQ(g_bListChanged.load(), 1);
  EXPECT_EQ(File(), Config(10, 0, 1, {"@mcast:101:News:224.2.2.1:10001:studio feed:2:1#"}));

  // No port test in Add, and any number but 0 passes.
  Add({65536, "Big", Addr(224, 2, 2, 2), 0});
  Add({70000, "Bigger", Addr(224, 2, 2, 3), 20});
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(Column(1), (std::vector<std::string>{"101", "65536", "70000"}));
  EXPECT_EQ(Column(4), (std::vector<std::string>{"10001", "0", "20"}));
  EXPECT_EQ(Column(7), (std::vector<std::string>{"1", "0", "0"}));
}

// Every refusal shows exactly its message and leaves table, list, file and
// change flag as they were.
TEST_F(EditorTest, RefusalsShowTheirMessageAndChangeNothing) {
  enum Command { kAdd, kModify, kDelete };
  struct Case {
    Command command;
    bool click;  // click row 0 first
    void (*tweak)(FakeForm&);
    std::string message;
  };
  const Case cases[] = {
      // First, while no row was ever clicked.
      {kModify, false, [](FakeForm&) {}, "Select a program in the list first"},
      {kAdd, false,
       [](FakeForm& f) {
         f.texts[Index(FormField::Number)] = "0";
         f.blank = true;
       },
       "Program number should be 1-65535"},
      {kAdd, false, [](FakeForm& f) { f.blank = true; }, "Multicastis empty"},
      {kAdd, false, [](FakeForm& f) { f.texts[Index(FormField::Name)] = "a:b"; },
       "Name must not contain ':' or a line break"},
      {kAdd, false, [](FakeForm& f) { f.texts[Index(FormField::Name)] = "a\rb"; },
       "Name must not contain ':' or a line break"},
      {kAdd, false, [](FakeForm& f) { f.texts[Index(FormField::Note)] = "line\nbreak"; },
       "Remark must not contain ':' or a line break"},
      {kAdd, false, [](FakeForm& f) { f.texts[Index(FormField::Name)] = std::string(128, 'n'); },
       "Name is too long: at most 127 bytes"},
      {kAdd, false, [](FakeForm& f) { f.texts[Index(FormField::Note)] = std::string(128, 'r'); },
       "Remark is too long: at most 127 bytes"},
      {kModify, true, [](FakeForm& f) { f.blank = true; }, "Multicastis empty"},
      {kModify, true, [](FakeForm& f) { f.texts[Index(FormField::Port)] = "0"; }, "Port is empty"},
      {kModify, true, [](FakeForm& f) { f.texts[Index(FormField::Number)] = "0"; }, "Number is empty"},
      {kModify, true, [](FakeForm& f) { f.address = Addr(224, 2, 2, 3); },
       "Same program address:3::224.2.2.3:10001,Exist"},
      {kModify, true, [](FakeForm& f) { f.texts[Index(FormField::Note)] = "x:y"; },
       "Remark must not contain ':' or a line break"},
      {kDelete, false, [](FakeForm& f) { f.blank = true; }, "Multicastis empty"},
      {kDelete, false, [](FakeForm& f) { f.texts[Index(FormField::Port)] = "0"; }, "Portis empty"},
      {kDelete, false, [](FakeForm&) {}, "Delete Fail"},
  };

  for (uint32_t i = 1; i <= 3; ++i) Add({i, "P" + std::to_string(i), Addr(224, 2, 2, i)});
  ASSERT_EQ(editor->Rows().size(), 3u);
  const std::vector<RowTexts> rows = editor->Rows();
  const std::string file = File();
  std::vector<ProgramEntry> table(g_Programs, g_Programs + MAX_PROGRAMS);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    if (c.click) editor->OnClickProgramList(0);
    Enter({9, "Nine", Addr(224, 2, 2, 9)});
    c.tweak(form);
    prompter.Clear();
    g_bListChanged.store(0);
    switch (c.command) {
      case kAdd:
        editor->OnAdd();
        break;
      case kModify:
        editor->OnModify();
        break;
      case kDelete:
        editor->OnDelete();
        break;
    }
    EXPECT_EQ(prompter.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(prompter.icons, std::vector<MessageIcon>{MessageIcon::None});
    EXPECT_TRUE(prompter.questions.empty());
    EXPECT_EQ(editor->Rows(), rows);
    EXPECT_EQ(File(), file);
    EXPECT_EQ(std::memcmp(table.data(), g_Programs, sizeof g_Programs), 0);
    EXPECT_EQ(g_bListChanged.load(), 0);
  }
}

TEST_F(EditorTest, AddChecksNumberThenAddressThenCapacity) {
  std::vector<ProgramEntry> full;
  for (int i = 0; i < MAX_PROGRAMS; ++i) full.push_back(Entry(i + 1, "", "224.3.3.3", 1000 + i));
  Place(full);
  ASSERT_EQ(editor->Rows().size(), 300u);
  struct Case {
    std::string number;
    bool blank;
    std::string message;
  };
  const Case cases[] = {
      {"0", true, "Program number should be 1-65535"},
      {"5", true, "Multicastis empty"},
      {"5", false, "Multicast MAX:300"},
  };
  for (const Case& c : cases) {
    Enter({1, "x", Addr(224, 2, 2, 9)});
    form.texts[Index(FormField::Number)] = c.number;
    form.blank = c.blank;
    prompter.Clear();
    editor->OnAdd();
    EXPECT_EQ(prompter.messages, std::vector<std::string>{c.message});
  }
  EXPECT_EQ(editor->Rows().size(), 300u);
  EXPECT_EQ(File(), "<missing>");
}

TEST_F(EditorTest, AddAsksOncePerProgramSharingTheAddress) {
  Add({1, "A", Addr(224, 2, 2, 1)});
  prompter.answers = {true};
  Add({2, "B", Addr(224, 2, 2, 1)});
  ASSERT_EQ(editor->Rows().size(), 2u);
  const std::string file = File();

  prompter.Clear();
  prompter.answers = {true, false};
  Add({3, "C", Addr(224, 2, 2, 1)});
  const std::string question = "224.2.2.1:10001:has been exist, are you sure to add it?";
  EXPECT_EQ(prompter.questions, (std::vector<std::string>{question, question}));
  EXPECT_EQ(prompter.captions, (std::vector<std::string>{"Warning", "Warning"}));
  EXPECT_EQ(editor->Rows().size(), 2u);
  EXPECT_EQ(File(), file);

  // Another port is another program: no question.
  prompter.Clear();
  Add({4, "D", Addr(224, 2, 2, 1), 10002});
  EXPECT_TRUE(prompter.questions.empty());
  EXPECT_EQ(editor->Rows().size(), 3u);
}

TEST_F(EditorTest, OrderingByNumberIsStableAndFollowsTheCheckBox) {
  uint32_t host = 1;
  auto add = [&](uint32_t number, const std::string& name) { Add({number, name, Addr(224, 2, 2, host++)}); };
  add(5, "A");
  add(3, "x");
  add(5, "B");
  add(1, "y");
  add(5, "C");
  EXPECT_EQ(Column(1), (std::vector<std::string>{"1", "3", "5", "5", "5"}));
  EXPECT_EQ(Column(2), (std::vector<std::string>{"y", "x", "A", "B", "C"}));

  // Off: the table keeps its order and new programs go last.
  form.order = false;
  editor->OnOrderOrRateChange();
  add(2, "z");
  EXPECT_EQ(Column(1), (std::vector<std::string>{"1", "3", "5", "5", "5", "2"}));
  EXPECT_NE(File().find("@index:0#"), std::string::npos);

  // On again: sorted at once and saved.
  g_bListChanged.store(0);
  form.order = true;
  editor->OnOrderOrRateChange();
  EXPECT_EQ(Column(1), (std::vector<std::string>{"1", "2", "3", "5", "5", "5"}));
  EXPECT_EQ(g_bListChanged.load(), 1);
  EXPECT_NE(File().find("@index:1#\r\n@mcast:1:y:"), std::string::npos);
}

TEST_F(EditorTest, SendRateChangeSavesAndARefusedRateComesBack) {
  form.texts[Index(FormField::SendRate)] = "25";
  editor->OnOrderOrRateChange();
  EXPECT_EQ(editor->m_nSendRate.load(), 25u);
  EXPECT_EQ(File(), Config(25, 0, 1, {}));

  form.texts[Index(FormField::SendRate)] = "";
  editor->OnOrderOrRateChange();
  EXPECT_EQ(prompter.messages, std::vector<std::string>{kNumberPrompt});
  EXPECT_EQ(form.focused, std::vector<FormField>{FormField::SendRate});
  EXPECT_EQ(editor->m_nSendRate.load(), 25u);
  EXPECT_EQ(form.texts[Index(FormField::SendRate)], "25");
}

TEST_F(EditorTest, ClickFillsTheFormAndModifyOfTheNameIsAccepted) {
  Add({1, "One", Addr(224, 2, 2, 1)});
  Add({2, "Two", Addr(239, 0, 0, 2), 5002, "note", 7, true});
  Add({3, "Three", Addr(224, 2, 2, 3)});

  Enter({99, "typed", Addr(1, 1, 1, 1)});
  editor->OnClickProgramList(1);
  EXPECT_EQ(editor->m_nSelRow, 1);
  EXPECT_EQ(form.address, Addr(239, 0, 0, 2));
  EXPECT_TRUE(form.hd);
  const std::array<std::string, 7> shown = {"5002", "2", "Two", "note", "10", "", "7"};
  for (FormField f :
       {FormField::Port, FormField::Number, FormField::Name, FormField::Note, FormField::SendRate, FormField::Group}) {
    EXPECT_EQ(form.texts[Index(f)], shown[Index(f)]);
  }

  form.texts[Index(FormField::Name)] = "Two renamed";
  editor->OnModify();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(Column(2), (std::vector<std::string>{"One", "Two renamed", "Three"}));
  EXPECT_EQ(editor->Rows()[1], (RowTexts{"2", "2", "Two renamed", "239.0.0.2", "5002", "note", "7", "1"}));
  EXPECT_NE(File().find("@mcast:2:Two renamed:239.0.0.2:5002:note:7:1#"), std::string::npos);

  // A click where no row got selected changes nothing.
  Enter({42, "kept", Addr(1, 2, 3, 4)});
  const std::array<std::string, 7> before = form.texts;
  editor->OnClickProgramList(-1);
  EXPECT_EQ(form.texts, before);
  EXPECT_EQ(form.address, Addr(1, 2, 3, 4));
  EXPECT_EQ(editor->m_nSelRow, 1);
}

TEST_F(EditorTest, HdColumnAndTheClickedHdBox) {
  std::vector<ProgramEntry> entries = {Entry(1, "a", "224.2.2.1"), Entry(2, "b", "224.2.2.2"),
                                       Entry(3, "c", "224.2.2.3")};
  entries[1].bHD = 1;
  entries[2].bHD = 2;  // as a hand-edited file may hold it
  Place(entries);
  EXPECT_EQ(Column(7), (std::vector<std::string>{"0", "1", "2"}));
  const bool expected[] = {false, true, true};
  for (int row = 0; row < 3; ++row) {
    form.hd = !expected[row];
    editor->OnClickProgramList(row);
    EXPECT_EQ(form.hd, expected[row]) << row;
  }
}

TEST_F(EditorTest, DeleteRemovesTheFirstMatchWhateverRowWasClicked) {
  Add({1, "upper", Addr(224, 2, 2, 9), 5000});
  Add({2, "middle", Addr(224, 2, 2, 5), 5000});
  prompter.answers = {true};
  Add({3, "lower", Addr(224, 2, 2, 9), 5000});
  ASSERT_EQ(editor->Rows().size(), 3u);

  editor->OnClickProgramList(2);
  editor->OnDelete();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(Column(2), (std::vector<std::string>{"middle", "lower"}));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(File(), Config(10, 0, 1, {"@mcast:2:middle:224.2.2.5:5000::0:0#", "@mcast:3:lower:224.2.2.9:5000::0:0#"}));
  // The former last program stays behind in the slot past the list.
  EXPECT_STREQ(g_Programs[2].szName, "lower");
}

TEST_F(EditorTest, DeletingTheOnlyProgramEmptiesListAndFile) {
  Add({1, "only", Addr(224, 2, 2, 1)});
  editor->OnDelete();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(editor->Rows().empty());
  EXPECT_TRUE(form.shown.empty());
  EXPECT_EQ(g_nProgramCount, 0);
  EXPECT_EQ(File(), Config(10, 0, 1, {}));
}

TEST_F(EditorTest, AHandWrittenAddressIsNeverMatched) {
  WriteFile(Config(10, 0, 1, {"@mcast:7:Hand:224.002.002.001:10001:n:0:0#"}));
  EXPECT_EQ(editor->LoadAtStartup(), 1);
  ASSERT_EQ(Column(3), std::vector<std::string>{"224.002.002.001"});

  Enter({8, "Typed", Addr(224, 2, 2, 1)});
  editor->OnDelete();
  EXPECT_EQ(prompter.messages, std::vector<std::string>{"Delete Fail"});

  prompter.Clear();
  editor->OnAdd();
  EXPECT_TRUE(prompter.questions.empty());
  EXPECT_EQ(editor->Rows().size(), 2u);

  editor->OnClickProgramList(1);
  form.texts[Index(FormField::Name)] = "Typed again";
  editor->OnModify();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(Column(2), (std::vector<std::string>{"Hand", "Typed again"}));
}

TEST_F(EditorTest, ModifyOfARememberedRowPastTheEndKeepsListAndFile) {
  for (uint32_t i = 1; i <= 3; ++i) Add({i, "P" + std::to_string(i), Addr(224, 2, 2, i)});
  editor->OnClickProgramList(2);
  Enter({1, "", Addr(224, 2, 2, 1)});
  editor->OnDelete();
  ASSERT_EQ(Column(2), (std::vector<std::string>{"P2", "P3"}));
  const std::vector<RowTexts> rows = editor->Rows();
  const std::string file = File();

  Enter({77, "Ghost", Addr(224, 7, 7, 7), 7000});
  g_bListChanged.store(0);
  editor->OnModify();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(editor->Rows(), rows);
  EXPECT_EQ(File(), file);
  EXPECT_EQ(g_Programs[2].nNumber, 77);
  EXPECT_STREQ(g_Programs[2].szName, "Ghost");
  EXPECT_EQ(g_bListChanged.load(), 1);
}

TEST_F(EditorTest, ARefusedNumberStopsTheReadThere) {
  const FormField numbers[] = {FormField::Port, FormField::Number, FormField::SendRate, FormField::Group};
  for (FormField failing : numbers) {
    SCOPED_TRACE(Index(failing));
    editor->m_nPort = 1;
    editor->m_nNumber = 2;
    editor->m_strName = "old";
    editor->m_strNote = "old";
    editor->m_nSendRate = 3;
    editor->m_bOrderByNumber = 0;
    editor->m_nGroup = 4;
    form.texts = {"11", "12", "new", "new", "13", "", "14"};
    form.order = true;
    form.texts[Index(failing)] = "1x";
    prompter.Clear();
    form.focused.clear();

    EXPECT_FALSE(editor->UpdateData(true));
    EXPECT_EQ(prompter.messages, std::vector<std::string>{kNumberPrompt});
    EXPECT_EQ(prompter.icons, std::vector<MessageIcon>{MessageIcon::Exclamation});
    EXPECT_EQ(form.focused, std::vector<FormField>{failing});
    // Fields before the failing one are taken, it and those after keep theirs.
    auto read = [&](FormField f) { return Index(f) < Index(failing); };
    EXPECT_EQ(editor->m_nPort, read(FormField::Port) ? 11u : 1u);
    EXPECT_EQ(editor->m_nNumber, read(FormField::Number) ? 12u : 2u);
    EXPECT_EQ(editor->m_strName, read(FormField::Name) ? "new" : "old");
    EXPECT_EQ(editor->m_strNote, read(FormField::Note) ? "new" : "old");
    EXPECT_EQ(editor->m_nSendRate.load(), read(FormField::SendRate) ? 13u : 3u);
    EXPECT_EQ(editor->m_bOrderByNumber, read(FormField::OrderByNumber) ? 1 : 0);
    EXPECT_EQ(editor->m_nGroup, 4u);
  }
  form.texts = {" 11 ", "+12", "new", "new", "13", "", "14"};
  EXPECT_TRUE(editor->UpdateData(true));
  EXPECT_EQ(editor->m_nPort, 11u);
  EXPECT_EQ(editor->m_nNumber, 12u);
  EXPECT_EQ(editor->m_nGroup, 14u);
}

TEST_F(EditorTest, AddGoesOnWithThePreviousValuesAfterARefusedPort) {
  Add({101, "News", Addr(224, 2, 2, 1), 10001, "feed", 2});
  Enter({5, "Fresh", Addr(224, 2, 2, 5), 0, "fresh", 9});
  form.texts[Index(FormField::Port)] = "abc";
  editor->OnAdd();
  EXPECT_EQ(prompter.messages, std::vector<std::string>{kNumberPrompt});
  ASSERT_EQ(editor->Rows().size(), 2u);
  EXPECT_EQ(editor->Rows()[1], (RowTexts{"2", "101", "News", "224.2.2.5", "10001", "feed", "2", "0"}));
  EXPECT_EQ(form.texts[Index(FormField::Port)], "10001");
  EXPECT_EQ(form.texts[Index(FormField::Name)], "News");
}

TEST_F(EditorTest, ForceUpdateOnlyRaisesTheFlag) {
  Add({1, "One", Addr(224, 2, 2, 1)});
  const std::string file = File();
  const int shows = form.showCalls;
  g_bListChanged.store(0);
  editor->OnForceUpdate();
  EXPECT_EQ(g_bListChanged.load(), 1);
  EXPECT_EQ(File(), file);
  EXPECT_EQ(form.showCalls, shows);
}

TEST_F(EditorTest, ReloadWithTheFileMissingEmptiesTheList) {
  Add({1, "One", Addr(224, 2, 2, 1)});
  Add({2, "Two", Addr(224, 2, 2, 2)});
  std::filesystem::remove(path);
  g_bListChanged.store(0);
  editor->OnReloadConfig();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(editor->Rows().empty());
  EXPECT_TRUE(form.shown.empty());
  EXPECT_EQ(g_nProgramCount, 0);
  EXPECT_EQ(g_bListChanged.load(), 1);
  EXPECT_EQ(File(), "<missing>");
}

TEST_F(EditorTest, LoadAppliesTheSettingsWithoutSaving) {
  const std::string file = Config(20, 7, 0, {"@mcast:3:C:224.2.2.3:1:n:0:0#", "@mcast:1:A:224.2.2.1:1:n:0:2#"});
  WriteFile(file);
  EXPECT_EQ(editor->LoadAtStartup(), 2);
  EXPECT_EQ(Column(1), (std::vector<std::string>{"3", "1"}));  // ordering is off in the file
  EXPECT_EQ(Column(7), (std::vector<std::string>{"0", "2"}));
  EXPECT_EQ(editor->m_nSendRate.load(), 20u);
  EXPECT_EQ(form.texts[Index(FormField::SendRate)], "20");
  EXPECT_FALSE(form.order);
  EXPECT_EQ(g_nVersion.load(), 7);
  EXPECT_EQ(g_bListChanged.load(), 1);
  EXPECT_EQ(File(), file);
}

TEST_F(EditorTest, ThePlayListMustFitSixSections) {
  // A program with a 127-byte name takes 144 bytes on the air: six fill a
  // 1000-byte section, so 36 fill the play list, with 136 bytes spare in
  // each section.
  const std::string longName(127, 'L');
  std::vector<ProgramEntry> entries;
  for (int i = 0; i < 36; ++i) entries.push_back(Entry(i + 1, longName, "224.5.5." + std::to_string(i + 1)));
  Place(entries);
  const std::string full =
      "The play list is full: it must fit into 6 sections of 1024 bytes. Shorten names or remove programs first";

  Add({100, longName, Addr(224, 2, 2, 1)});
  EXPECT_EQ(prompter.messages, std::vector<std::string>{full});
  EXPECT_EQ(editor->Rows().size(), 36u);

  prompter.Clear();
  Add({100, "short", Addr(224, 2, 2, 1)});
  EXPECT_TRUE(prompter.messages.empty());
  ASSERT_EQ(editor->Rows().size(), 37u);

  editor->OnClickProgramList(36);
  form.texts[Index(FormField::Name)] = longName;
  editor->OnModify();
  EXPECT_EQ(prompter.messages, std::vector<std::string>{full});
  EXPECT_EQ(editor->Rows()[36][2], "short");
}

// What the form's budget says before the click is what Add and Modify then
// do: a preview of "fits" is accepted, any other is refused.
TEST_F(EditorTest, ThePreviewBeforeTheClickIsWhatAddAndModifyDo) {
  const std::string longName(127, 'L');
  std::vector<ProgramEntry> full;  // 36 programs of 144 bytes fill six sections
  for (int i = 0; i < 36; ++i) full.push_back(Entry(i + 1, longName, "224.5.5." + std::to_string(i + 1)));
  std::vector<ProgramEntry> over = full;  // 40 of them: a loaded list that does not fit
  for (int i = 36; i < 40; ++i) over.push_back(Entry(i + 1, longName, "224.5.5." + std::to_string(i + 1)));
  const struct {
    const char* what;
    const std::vector<ProgramEntry>* table;
    std::string name;
    uint32_t number;
    int modifyRow;  // -1: Add
    EditFit fit;
  } cases[] = {
      {"a long name into a full list", &full, longName, 100, -1, EditFit::Full},
      {"a short name still fits", &full, "short", 100, -1, EditFit::Fits},
      {"128 bytes are refused whatever the room", &full, std::string(128, 'x'), 100, -1, EditFit::NameTooLong},
      {"a row of a full list keeping its room", &full, longName, 1, 0, EditFit::Fits},
      {"a loaded list too long stays editable", &over, "x", 1, 0, EditFit::Fits},
      {"but may lose no further program", &over, longName, 50, -1, EditFit::Full},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Place(*c.table);
    prompter.Clear();
    const int n = static_cast<int>(c.table->size());
    const std::optional<int> row = c.modifyRow >= 0 ? std::optional<int>(c.modifyRow) : std::nullopt;
    const EditPreview preview = PreviewEdits(g_Programs, n, c.name, c.number, row, true);
    EXPECT_EQ(c.modifyRow >= 0 ? preview.modifyFit : preview.addFit, c.fit);
    EXPECT_EQ(preview.now.programs, n);
    EXPECT_EQ(preview.add.programs, n + 1);

    Enter({c.number, c.name, Addr(224, 9, 9, 9)});
    if (c.modifyRow >= 0) {
      editor->OnClickProgramList(c.modifyRow);
      form.texts[Index(FormField::Name)] = c.name;
      form.texts[Index(FormField::Number)] = std::to_string(c.number);
      editor->OnModify();
      EXPECT_EQ(editor->Rows()[0][2] == c.name, c.fit == EditFit::Fits);
    } else {
      editor->OnAdd();
      EXPECT_EQ(static_cast<int>(editor->Rows().size()), c.fit == EditFit::Fits ? n + 1 : n);
    }
    EXPECT_EQ(prompter.messages.empty(), c.fit == EditFit::Fits);
  }
}

TEST_F(EditorTest, AnOverlongLoadedListIsKeptAndStaysEditable) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 40; ++i) {
    lines.push_back("@mcast:" + std::to_string(i) + ":" + std::string(127, 'L') + ":224.5.5." + std::to_string(i) +
                    ":1:n:0:0#");
  }
  WriteFile(Config(10, 0, 1, lines));
  EXPECT_EQ(editor->LoadAtStartup(), 40);
  EXPECT_EQ(editor->Rows().size(), 40u);
  EXPECT_EQ(prompter.messages,
            std::vector<std::string>{
                "4 of the 40 programs loaded do not fit into the play list (6 sections of 1024 bytes) and are not "
                "broadcast"});

  // An edit that leaves no further program off the air is accepted.
  prompter.Clear();
  editor->OnClickProgramList(0);
  form.texts[Index(FormField::Name)] = "x";
  editor->OnModify();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(editor->Rows()[0][2], "x");
}

// A load that did not take the whole file must not let the next save destroy
// the rest: before that save the file is kept beside itself, and the
// operator is told once where. A missing file has nothing to keep.
TEST_F(EditorTest, AnIncompleteLoadIsKeptBesideTheFileBeforeTheFirstSave) {
  const struct {
    const char* what;
    std::string file;  // empty: no file
    std::vector<std::string> loadMessages;
    size_t loaded;
  } cases[] = {
      {"a bad address on line 14",
       FiftyPrograms(14),
       {"错误的IP地址\n{path}, line 14: the load stopped here; 41 program line(s) not loaded."},
       9},
      {"no file", "", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path);
    for (const std::string& kept : KeptCopies(dir)) std::filesystem::remove(kept);
    if (!c.file.empty()) WriteFile(c.file);
    prompter.Clear();
    editor->OnReloadConfig();
    std::vector<std::string> want = c.loadMessages;
    for (std::string& m : want) m.replace(m.find("{path}"), 6, path);
    EXPECT_EQ(prompter.messages, want);
    EXPECT_EQ(editor->Rows().size(), c.loaded);

    prompter.Clear();
    Add({100, "Added", Addr(224, 9, 9, 9)});
    EXPECT_EQ(editor->Rows().size(), c.loaded + 1);
    EXPECT_EQ(File().find("@mcast:100:Added:224.9.9.9:"), File().rfind("@mcast:")) << "the list is saved";
    const std::vector<std::string> kept = KeptCopies(dir);
    if (c.file.empty()) {
      EXPECT_TRUE(kept.empty());
      EXPECT_TRUE(prompter.messages.empty());
      continue;
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(ReadAll(kept[0]), c.file) << "nothing that was on disk is lost";
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_NE(prompter.messages[0].find(kept[0]), std::string::npos) << prompter.messages[0];

    // Told once: later saves just save.
    prompter.Clear();
    Add({101, "More", Addr(224, 9, 9, 10)});
    EXPECT_EQ(KeptCopies(dir).size(), 1u);
    EXPECT_TRUE(prompter.messages.empty());
  }
}

// A reload that takes the whole file again ends the rule: the file on disk
// is then all in the list.
TEST_F(EditorTest, ACompleteReloadEndsTheKeeping) {
  WriteFile(FiftyPrograms(14));
  editor->OnReloadConfig();
  WriteFile(FiftyPrograms());
  editor->OnReloadConfig();
  EXPECT_EQ(editor->Rows().size(), 50u);
  Add({100, "Added", Addr(224, 9, 9, 9)});
  EXPECT_TRUE(KeptCopies(dir).empty());
}

// An unreadable file: no program loads, one message says why, and the
// next Add keeps all 50 programs beside the new file. Root reads any file
// whatever its mode, so the case runs in a child as an unprivileged user.
TEST_F(EditorTest, AnUnreadableFileIsKeptBesideItBeforeTheFirstSave) {
  WriteFile(FiftyPrograms());
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0))
      _exit(3);
    prompter.Clear();
    editor->OnReloadConfig();
    EXPECT_EQ(prompter.messages, std::vector<std::string>{path + ": cannot be read: " + std::strerror(EACCES)});
    EXPECT_TRUE(editor->Rows().empty());
    Add({100, "Added", Addr(224, 9, 9, 9)});
    EXPECT_EQ(prompter.messages.size(), 2u) << "where the file was kept";
    _exit(testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  ASSERT_EQ(WEXITSTATUS(status), 0);
  const std::vector<std::string> kept = KeptCopies(dir);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(ReadAll(kept[0]), FiftyPrograms());
  EXPECT_NE(File().find("@mcast:100:Added:"), std::string::npos);
}

TEST_F(EditorTest, ALoadSaysWhenTheSendPeriodHasNoTimeOut) {
  WriteFile("IPTV multicast IP List\r\n@freq:-1#\r\n@end#\r\n");
  editor->OnReloadConfig();
  EXPECT_EQ(editor->m_nSendRate.load(), 4294967295u);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].rfind("The send period in " + path + " is 4294967295 ms (freq -1)", 0), 0u);
}

// Every change the broadcast must pick up goes through the hook, which
// wakes a loop that waits without time-out.
TEST_F(EditorTest, EveryChangeCallsTheChangeHook) {
  int calls = 0;
  editor->SetChangeHook([&] { ++calls; });
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"add",
       [&] {
         Add({1, "One", Addr(224, 2, 2, 1)});
       }},
      {"modify",
       [&] {
         editor->OnClickProgramList(0);
         editor->OnModify();
       }},
      {"order or rate", [&] { editor->OnOrderOrRateChange(); }},
      {"reload", [&] { editor->OnReloadConfig(); }},
      {"force update", [&] { editor->OnForceUpdate(); }},
      {"delete", [&] { editor->OnDelete(); }},
  };
  for (const auto& [what, step] : steps) {
    const int before = calls;
    step();
    EXPECT_EQ(calls, before + 1) << what;
  }
}

TEST(EditorSaveFailure, AnOwedSaveIsTriedAgainBeforeClosing) {
  char tmpl[] = "/tmp/iptv-editor-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl, sub = dir + "/sub", path = sub + "/config.txt";
  const struct {
    const char* what;
    bool fixedBeforeClose;
    std::deque<bool> answers;  // to "retry?"
    size_t questions;
    bool saved;
  } cases[] = {
      {"the cause went away: saved without a question", true, {}, 0, true},
      {"fixed while asked, then retried", false, {true}, 1, true},
      {"closed without it", false, {false}, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetProgramTable();
    std::filesystem::remove_all(sub);
    FakeForm form;
    FakePrompter prompter;
    ProgramEditor editor(form, prompter, path);
    editor.SetDefaults();
    EXPECT_FALSE(editor.SavePending());
    form.texts = {"10001", "1", "P", "", "10", "", "0"};
    form.address = Addr(224, 2, 2, 1);
    editor.OnAdd();
    ASSERT_TRUE(editor.SavePending());
    if (c.fixedBeforeClose) std::filesystem::create_directory(sub);
    prompter.answers = c.answers;
    // The operator fixes the cause while the question is open.
    if (!c.fixedBeforeClose && c.answers.front()) prompter.onAsk = [&] { std::filesystem::create_directory(sub); };
    editor.SaveBeforeClose();
    EXPECT_EQ(prompter.questions.size(), c.questions);
    if (!prompter.questions.empty()) {
      EXPECT_NE(prompter.questions[0].find(path + ": "), std::string::npos) << prompter.questions[0];
    }
    EXPECT_EQ(std::filesystem::exists(path), c.saved);
    EXPECT_EQ(editor.SavePending(), !c.saved);
  }
  std::filesystem::remove_all(dir);
}

TEST(EditorSaveFailure, IsToldOnceAndTheListStillChanges) {
  ResetProgramTable();
  FakeForm form;
  FakePrompter prompter;
  ProgramEditor editor(form, prompter, "/nonexistent-iptv-dir/config.txt");
  editor.SetDefaults();
  for (uint32_t i = 1; i <= 2; ++i) {
    form.texts = {"10001", std::to_string(i), "P", "", "10", "", "0"};
    form.address = Addr(224, 2, 2, i);
    editor.OnAdd();
  }
  EXPECT_EQ(editor.Rows().size(), 2u);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_NE(prompter.messages[0].find("/nonexistent-iptv-dir/config.txt"), std::string::npos);
}

}  // namespace
