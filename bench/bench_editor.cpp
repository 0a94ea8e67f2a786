// One operator edit on a nearly full table: Add of the 300th program, which
// sorts the table, rebuilds every row and saves config.txt (the atomic save
// waits for the disk). The window adds only the showing of the rows to it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>

#include "editing/program_editor.h"

namespace {

struct NoMessages : Prompter {
  int shown = 0;
  void ShowMessage(const std::string& m, MessageIcon) override {
    ++shown;
    last = m;
  }
  std::string last;
  bool AskOkCancel(const std::string&, const std::string&) override { return false; }
};

// What the operator typed for the new program.
const std::array<std::string, 7> kTyped{"10001", "1", "ZZ", "remark", "10", "", "0"};

struct PlainForm : FormView {
  std::array<std::string, 7> texts = kTyped;
  std::string Text(FormField f) const override { return texts[static_cast<size_t>(f)]; }
  void SetText(FormField f, const std::string& t) override { texts[static_cast<size_t>(f)] = t; }
  bool Checked(FormField) const override { return true; }
  void SetChecked(FormField, bool) override {}
  void FocusAndSelectAll(FormField) override {}
  bool HdChecked() const override { return false; }
  void SetHdChecked(bool) override {}
  bool AddressBlank() const override { return false; }
  uint32_t Address() const override { return 0xEFFF0000u; }  // 239.255.0.0, used by no loaded program
  void SetAddress(uint32_t) override {}
  void ShowRows(const std::vector<RowTexts>&) override {}
};

// 299 programs in shuffled number order. Two-letter names keep a full table
// within the six sections of the play list.
void Load299(ProgramEditor& editor) {
  std::array<int, MAX_PROGRAMS - 1> numbers;
  for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<int>(i) + 1;
  std::shuffle(numbers.begin(), numbers.end(), std::mt19937(42));
  {
    std::lock_guard lock(g_TableGuard);
    for (int i = 0; i < MAX_PROGRAMS - 1; ++i) {
      ProgramEntry& e = g_Programs[i];
      e = ProgramEntry{};
      e.nNumber = numbers[static_cast<size_t>(i)];
      CopyField(e.szName, std::string{static_cast<char>('A' + i / 26 % 26), static_cast<char>('A' + i % 26)});
      CopyField(e.szMulticast, "239.1." + std::to_string(i / 256) + "." + std::to_string(i % 256));
      e.nPort = 10001;
      CopyField(e.szNote, "remark " + std::to_string(i));
      e.nGroup = i % 8;
    }
  }
  editor.RefreshList(MAX_PROGRAMS - 1, false);
}

void BM_AddTo299(benchmark::State& state) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "iptv-bench-editor-XXXXXX").string();
  const std::filesystem::path dir = mkdtemp(tmpl.data());
  ResetProgramTable();
  PlainForm form;
  NoMessages prompter;
  ProgramEditor editor(form, prompter, (dir / "config.txt").string());
  editor.SetDefaults();
  for (auto _ : state) {
    state.PauseTiming();
    Load299(editor);
    form.texts = kTyped;  // the refresh wrote the members back into the form
    state.ResumeTiming();
    editor.OnAdd();
    benchmark::DoNotOptimize(editor.Rows().data());
  }
  if (editor.Rows().size() != MAX_PROGRAMS || prompter.shown != 0)
    state.SkipWithError(("the Add was refused: " + prompter.last).c_str());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_AddTo299)->Unit(benchmark::kMillisecond);

// The same refresh without the save: what the table and the rows cost alone.
void BM_RefreshOf300WithoutSave(benchmark::State& state) {
  ResetProgramTable();
  PlainForm form;
  NoMessages prompter;
  ProgramEditor editor(form, prompter, "/nonexistent/config.txt");
  editor.SetDefaults();
  Load299(editor);
  for (auto _ : state) editor.RefreshList(0, false);
}
BENCHMARK(BM_RefreshOf300WithoutSave)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
