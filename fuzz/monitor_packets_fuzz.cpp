// libFuzzer target for the monitor's packet path: any sequence of datagrams
// from up to four sources (monitor_records.h) must go through reassembly,
// decoding and collection without a crash, and every list and counter it
// prints must be safe to show. A list carries its own source, and a source
// shows the same version twice in a row only after a conflict.
#include <cstddef>
#include <cstdint>
#include <map>

#include "monitor/play_list_monitor.h"
#include "monitor_output_check.h"
#include "monitor_records.h"

using monitor_fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::map<uint32_t, int> lastVersion;     // by source
  std::map<uint32_t, uint64_t> conflicts;  // since that source's last list
  uint32_t current = 0;
  // A quarter of the runs expect a source (bits the first record leaves free).
  const bool expect = size > 0 && (data[0] & 0x30) == 0x30;
  PlayListMonitor monitor(
      [&](const PlayList& l) {
        Require(l.source == current);
        auto last = lastVersion.find(l.source);
        if (last != lastVersion.end() && last->second == l.version) Require(conflicts[l.source] > 0);
        lastVersion[l.source] = l.version;
        conflicts[l.source] = 0;
        monitor_fuzz::CheckPrintedList(l);
      },
      [&](const MonitorEvent& e) {
        if (e.kind == MonitorEvent::Kind::Conflict) ++conflicts[e.source];
        monitor_fuzz::CheckTerminalText(FormatEventText(e));
      });
  if (expect) monitor.ExpectSource(monitor_fuzz::SourceAddress(1));
  monitor.KeepArrivals(true);
  size_t fed = 0;
  monitor_fuzz::ForEachDatagram(data, size, [&](const uint8_t* d, size_t n, uint32_t from) {
    current = from;
    monitor.Feed(d, n, static_cast<int64_t>(fed++) * 1'000'000, from);
  });
  const MonitorCounters c = monitor.Counters();
  Require(c.ts.datagrams == fed);
  Require(c.sources.size() <= 4);
  for (const SourceSeen& s : c.sources) Require(!expect || s.decoded == (s.address == monitor_fuzz::SourceAddress(1)));
  monitor_fuzz::CheckEndForms(c);
  const Spacing within = monitor.WithinSection(), all = monitor.AllPackets();
  Require(within.count <= all.count && all.count == (c.ts.packets ? c.ts.packets - 1 : 0));
  Require(within.p10 <= within.median && within.median <= within.p90);
  monitor_fuzz::CheckTerminalText(FormatSpacingText("all", all));
  return 0;
}
