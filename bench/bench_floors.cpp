// bench_floors: the encoder and the monitor against the least work that does
// the same job, measured in pairs side by side so that only ratios count.
//   encoder  one cycle's rebuild of 300 programs in six sections (the real
//            clock) against a copy of the same bytes
//            plus their CRC; the cycle builds the sections around program
//            entries encoded when the table was published. Also shown: a
//            cycle right after a publication, which encodes them first.
//   monitor  one rotation of those six sections as 36 datagrams through the
//            monitor's core against reassembly plus the CRC of each section;
//            with the version unchanged and with a new version each rotation.
// Prints one line per measure: min, median and max of the ratio over the
// pairs, and the median CPU time of each side.
//
// Usage: bench_floors [PAIRS]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench_tables.h"
#include "broadcast/packetizer.h"
#include "broadcast/section_encoder.h"
#include "monitor/play_list_monitor.h"
#include "monitor/ts_reassembler.h"
#include "wire/crc32.h"

namespace {

class FixedClock : public Clock {
 public:
  LocalTime Now() const override { return {2024, 3, 9, 14, 5, 30}; }
};

// CPU time of this thread: on a shared machine the wall clock also counts
// the time others held the core.
double ThreadNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

template <class F>
double NsPerCall(int calls, F&& f) {
  const double t0 = ThreadNs();
  for (int i = 0; i < calls; ++i) f();
  return (ThreadNs() - t0) / calls;
}

struct Pairs {
  std::vector<double> a, b, ratio;
  void Add(double x, double y) {
    a.push_back(x);
    b.push_back(y);
    ratio.push_back(x / y);
  }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Report(const char* what, const Pairs& p) {
  std::printf("%-28s ratio min %.2f median %.2f max %.2f  (%.0f ns against a floor of %.0f ns, medians)\n", what,
              *std::min_element(p.ratio.begin(), p.ratio.end()), Median(p.ratio),
              *std::max_element(p.ratio.begin(), p.ratio.end()), Median(p.a), Median(p.b));
}

volatile uint32_t g_sink;

}  // namespace

int main(int argc, char** argv) {
  const int pairs = argc > 1 ? std::atoi(argv[1]) : 15;
  const std::vector<ProgramEntry> table = FullTable();
  const SystemClock clock;
  static SectionBuffers buffers;
  static SectionBuffers copy;
  static AddressCache addresses;

  // The encoder and its floor.
  uint8_t last = 0;
  const int total = BuildSection(buffers, 0, last, 0, {table.data(), MAX_PROGRAMS, 3, &addresses}, clock);
  std::vector<size_t> sizes;
  for (int s = 0; s <= last; ++s) sizes.push_back(static_cast<size_t>(SectionTotalSize(buffers[s])));
  // What the loop does every cycle: the sections around the program entries
  // encoded at the last publication.
  static PlayListEntries entries;
  EncodePlayListEntries(entries, {table.data(), MAX_PROGRAMS, 0, &addresses});
  auto encode = [&] {
    uint8_t l = 0;
    g_sink = static_cast<uint32_t>(BuildSections(buffers, entries, 3, clock, l));
  };
  // A cycle that follows a publication also encodes the entries again.
  auto publishEncode = [&] {
    EncodePlayListEntries(entries, {table.data(), MAX_PROGRAMS, 0, &addresses});
    encode();
  };
  auto copyCrc = [&] {
    uint32_t x = 0;
    for (size_t s = 0; s < sizes.size(); ++s) {
      std::memcpy(copy[s], buffers[s], sizes[s] - 4);
      x ^= Crc32Mpeg(copy[s], sizes[s] - 4);
    }
    g_sink = x;
  };

  // The datagrams of one rotation, for each of 32 versions.
  FixedClock fixed;
  std::vector<std::vector<uint8_t>> rotations[32];
  for (unsigned v = 0; v < 32; ++v) {
    SectionBuffers b{};
    uint8_t l = 0;
    BuildSection(b, 0, l, 0, {table.data(), MAX_PROGRAMS, static_cast<uint8_t>(v), nullptr}, fixed);
    uint8_t cc = 0;
    for (int s = 0; s <= l; ++s)
      PacketizeSection(b[s], cc, [&](const uint8_t* p) { rotations[v].emplace_back(p, p + wire::TS_PACKET_SIZE); });
  }
  // Continuity runs on across rotations: restamp the counters in feeding order.
  auto feedAll = [](auto& feed, std::vector<std::vector<uint8_t>>& packets, uint8_t& cc) {
    for (auto& p : packets) {
      p[3] = static_cast<uint8_t>((p[3] & 0xF0) | cc);
      cc = static_cast<uint8_t>((cc + 1) & 0x0F);
      feed(p.data(), p.size());
    }
  };
  PlayListMonitor sameMonitor([](const PlayList&) {});
  PlayListMonitor changingMonitor([](const PlayList&) {});
  SectionReassembler floorReassembler(wire::PID, [](const uint8_t* d, size_t n) { g_sink = Crc32Mpeg(d, n); });
  uint8_t ccSame = 0, ccChanging = 0, ccFloor = 0;
  unsigned version = 0;
  auto monitorSame = [&] {
    auto feed = [&](const uint8_t* d, size_t n) { sameMonitor.Feed(d, n, 0, 0x0100007F); };
    feedAll(feed, rotations[3], ccSame);
  };
  auto monitorChanging = [&] {
    auto feed = [&](const uint8_t* d, size_t n) { changingMonitor.Feed(d, n, 0, 0x0100007F); };
    version = (version + 1) & 31;
    feedAll(feed, rotations[version], ccChanging);
  };
  auto floorMonitor = [&] {
    auto feed = [&](const uint8_t* d, size_t n) { floorReassembler.Feed(d, n); };
    feedAll(feed, rotations[3], ccFloor);
  };

  std::printf("encoder: %d sections, %d bytes; monitor: %zu datagrams a rotation; %d pairs\n", last + 1, total,
              rotations[0].size(), pairs);
  auto crcTable = [&] {
    uint32_t x = 0;
    for (size_t s = 0; s < sizes.size(); ++s) x ^= Crc32::UpdateTable(0xFFFFFFFFu, buffers[s], sizes[s] - 4);
    g_sink = x;
  };
  auto crcFast = [&] {
    uint32_t x = 0;
    for (size_t s = 0; s < sizes.size(); ++s) x ^= Crc32Mpeg(buffers[s], sizes[s] - 4);
    g_sink = x;
  };
  Pairs enc, pub, monSame, monChanging, crc;
  for (int i = 0; i < 3; ++i) {  // warm up
    NsPerCall(2000, encode), NsPerCall(2000, copyCrc);
    NsPerCall(200, monitorSame), NsPerCall(200, monitorChanging), NsPerCall(200, floorMonitor);
  }
  for (int i = 0; i < pairs; ++i) {
    const double f1 = NsPerCall(20000, copyCrc);
    const double e = NsPerCall(20000, encode);
    enc.Add(e, f1);
    pub.Add(NsPerCall(20000, publishEncode), f1);
    const double f2 = NsPerCall(2000, floorMonitor);
    monSame.Add(NsPerCall(2000, monitorSame), f2);
    monChanging.Add(NsPerCall(2000, monitorChanging), f2);
    crc.Add(NsPerCall(20000, crcTable), NsPerCall(20000, crcFast));
  }
  const MonitorCounters c = sameMonitor.Counters();
  if (c.crcErrors != 0 || c.ts.continuityErrors != 0 || c.playLists != 1 || changingMonitor.Counters().conflicts != 0) {
    std::fprintf(stderr, "bench_floors: the monitor did not see what was sent\n");
    return 1;
  }
  Report("encoder / copy+CRC", enc);
  Report("  after a publication", pub);
  Report("monitor, same version", monSame);
  Report("monitor, new versions", monChanging);
  std::printf("(the CRC of the six sections: the table takes %.2f times the %s)\n", Median(crc.ratio),
              Crc32::FastPath() ? "carry-less multiply" : "same path; no carry-less multiply here");
  return 0;
}
