// The monitor's core: takes datagrams as a set-top box would, reassembles
// and checks the sections, and hands on each complete play list of a new
// version. No sockets here, so tests feed it packets directly.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "monitor/section_decoder.h"
#include "monitor/ts_reassembler.h"

struct PlayList {
  uint8_t version = 0;
  int sections = 0;                      // last section number + 1
  DecodedTime time;                      // from section 0
  std::vector<DecodedProgram> programs;  // in section order, as on the air
};

// Collects the sections of one version; a list is complete when sections
// 0..last of the same version and the same last number have all come.
class PlayListCollector {
 public:
  // Returns the play list when this section completes a set whose version
  // differs from the last completed one (the first set always counts).
  std::optional<PlayList> Add(const DecodedSection& s);

 private:
  void Restart(const DecodedSection& s);

  bool m_collecting = false;
  uint8_t m_version = 0;
  uint8_t m_last = 0;
  std::optional<DecodedSection> m_slots[6];
  int m_completedVersion = -1;
};

struct MonitorCounters {
  TsCounters ts;
  uint64_t crcErrors = 0;
  uint64_t badSections = 0;   // decoded errors other than the CRC
  uint64_t playLists = 0;     // complete lists of a new version
  std::vector<int> versions;  // section versions in the order first seen after a change
};

// Spacing between arrivals, in microseconds.
struct Spacing {
  size_t count = 0;
  double p10 = 0, median = 0, p90 = 0;
};
// Nearest-rank percentiles of the values; all zero when there are none.
Spacing SummariseSpacing(std::vector<double> values);

class PlayListMonitor {
 public:
  using ListSink = std::function<void(const PlayList&)>;
  explicit PlayListMonitor(ListSink sink);

  // One datagram, with its arrival on the monotonic clock in nanoseconds.
  void Feed(const uint8_t* data, size_t size, int64_t arrivalNs = 0);
  // When on, the arrival spacings are kept for Stats().
  void KeepArrivals(bool on) { m_keepArrivals = on; }

  MonitorCounters Counters() const;
  // Spacing between consecutive packets of one section (continuous, not a
  // section start), and between any two consecutive packets.
  Spacing WithinSection() const { return SummariseSpacing(m_within); }
  Spacing AllPackets() const { return SummariseSpacing(m_all); }

 private:
  void OnSection(const uint8_t* data, size_t size);

  ListSink m_sink;
  SectionReassembler m_reassembler;
  PlayListCollector m_collector;
  MonitorCounters m_counters;
  bool m_keepArrivals = false;
  int64_t m_lastArrival = -1;
  std::vector<double> m_within, m_all;
};

// The readable table and the one-line JSON form of a play list.
std::string FormatPlayListTable(const PlayList& list);
std::string FormatPlayListJson(const PlayList& list);
// The counters, as lines of "name: value" or as one JSON object.
std::string FormatCountersText(const MonitorCounters& c);
std::string FormatCountersJson(const MonitorCounters& c);
std::string FormatSpacingText(const char* what, const Spacing& s);
