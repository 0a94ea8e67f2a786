// config.txt with a full table of 300 programs: parse, load from disk,
// format, and the atomic save (which waits for the disk twice).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>

#include "storage/config_file.h"
#include "storage/config_test_support.h"

namespace {

struct NoMessages : Prompter {
  void ShowMessage(const std::string&, MessageIcon) override {}
  bool AskOkCancel(const std::string&, const std::string&) override { return false; }
};

// Full-length names and remarks: the largest file the program writes.
std::vector<RowTexts> FullRows() {
  std::vector<RowTexts> rows;
  for (int i = 0; i < MAX_PROGRAMS; ++i) {
    ProgramEntry e{};
    e.nNumber = 1000 + i;
    CopyField(e.szName, "频道" + std::string(121, 'n'));
    CopyField(e.szMulticast, "239.255." + std::to_string(i / 256) + "." + std::to_string(i % 256));
    e.nPort = 10001;
    CopyField(e.szNote, std::string(127, 'r'));
    e.nGroup = i % 8;
    e.bHD = static_cast<uint8_t>(i % 2);
    rows.push_back(FormatRow(i, e));
  }
  return rows;
}

std::string TempConfigPath() {
  static TempDir dir;  // removed when the run ends
  return (dir.path / "config.txt").string();
}

void BM_FormatConfig300(benchmark::State& state) {
  const auto rows = FullRows();
  for (auto _ : state) benchmark::DoNotOptimize(FormatConfig(rows, 10, 3, 1));
}
BENCHMARK(BM_FormatConfig300);

void BM_ParseConfig300(benchmark::State& state) {
  const std::string text = FormatConfig(FullRows(), 10, 3, 1);
  NoMessages none;
  for (auto _ : state) {
    std::istringstream in(text);
    benchmark::DoNotOptimize(LoadConfigFrom(in, "config.txt", none));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseConfig300);

void BM_LoadConfig300(benchmark::State& state) {
  const std::string path = TempConfigPath();
  if (!SaveConfig(path, FullRows(), 10, 3, 1).ok) state.SkipWithError("cannot write the file");
  NoMessages none;
  for (auto _ : state) benchmark::DoNotOptimize(LoadConfig(path, none));
}
BENCHMARK(BM_LoadConfig300);

void BM_SaveConfig300(benchmark::State& state) {
  const std::string path = TempConfigPath();
  const auto rows = FullRows();
  for (auto _ : state) {
    if (!SaveConfig(path, rows, 10, 3, 1).ok) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_SaveConfig300)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
