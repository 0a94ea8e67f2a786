// The encoder's work for a full table of 300 programs in six sections: the
// whole play list from the table (what a cycle right after a publication
// does, with the buffers zeroed as the plain path wants them; goal: at most
// 5 us with a fixed clock), and the sections around program entries
// encoded beforehand (what every other cycle does).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench_tables.h"
#include "broadcast/section_encoder.h"
#include "wire/crc32.h"

namespace {

class FixedClock : public Clock {
 public:
  LocalTime Now() const override { return {2024, 3, 9, 14, 5, 30}; }
};

template <class ClockT>
void BM_FullRebuild(benchmark::State& state) {
  const std::vector<ProgramEntry> table = FullTable();
  const ClockT clock;
  static SectionBuffers buffers;
  static AddressCache addresses;
  for (auto _ : state) {
    std::memset(buffers, 0, sizeof buffers);
    uint8_t last = 0;
    int len = BuildSection(buffers, 0, last, 0, {table.data(), MAX_PROGRAMS, 3, &addresses}, clock);
    benchmark::DoNotOptimize(len);
    if (last != MAX_SECTIONS - 1) state.SkipWithError("expected six sections");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * MAX_SECTIONS * SECTION_SIZE);
}
BENCHMARK(BM_FullRebuild<FixedClock>)->Name("FullRebuild300/fixed_clock");
BENCHMARK(BM_FullRebuild<SystemClock>)->Name("FullRebuild300/real_clock");

template <class ClockT>
void BM_CycleFromEntries(benchmark::State& state) {
  const std::vector<ProgramEntry> table = FullTable();
  const ClockT clock;
  static SectionBuffers buffers;
  static PlayListEntries entries;
  EncodePlayListEntries(entries, {table.data(), MAX_PROGRAMS, 0, nullptr});
  for (auto _ : state) {
    uint8_t last = 0;
    int len = BuildSections(buffers, entries, 3, clock, last);
    benchmark::DoNotOptimize(len);
    if (last != MAX_SECTIONS - 1) state.SkipWithError("expected six sections");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * MAX_SECTIONS * SECTION_SIZE);
}
BENCHMARK(BM_CycleFromEntries<FixedClock>)->Name("CycleFromEntries300/fixed_clock");
BENCHMARK(BM_CycleFromEntries<SystemClock>)->Name("CycleFromEntries300/real_clock");

void BM_Crc(benchmark::State& state, bool reference) {
  std::vector<uint8_t> data(1020, 0x5A);
  for (auto _ : state) {
    uint32_t c = reference ? Crc32::Reference(data.data(), data.size()) : Crc32Mpeg(data.data(), data.size());
    benchmark::DoNotOptimize(c);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1020);
}
BENCHMARK_CAPTURE(BM_Crc, slice_by_16, false)->Name("Crc1020/slice_by_16");
BENCHMARK_CAPTURE(BM_Crc, per_byte, true)->Name("Crc1020/per_byte");

}  // namespace

BENCHMARK_MAIN();
