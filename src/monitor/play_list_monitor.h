// The monitor's core: takes datagrams as a set-top box would, reassembles
// and checks the sections, and hands on each complete play list of a new
// version. No sockets here, so tests feed it packets directly.
//
// Every datagram comes with its source address, and each source is a stream
// of its own: its own continuity counter, its own sections under way, its
// own collection of sections. A list is never assembled from the packets or
// the sections of two senders, so a second sender on the group cannot slip a
// section into the list of the first; it is counted and reported instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/section_decoder.h"
#include "monitor/ts_reassembler.h"
#include "text/code_page.h"
#include "wire/wire_format.h"

struct PlayList {
  uint8_t version = 0;
  int sections = 0;                      // last section number + 1
  DecodedTime time;                      // from section 0
  std::vector<DecodedProgram> programs;  // in section order, as on the air
  uint32_t source = 0;                   // the sender's address, network byte order
};

// Collects the sections of one sender; a list is complete when sections
// 0..last of the same version and the same last number have all come.
//
// A section that comes again under the same version and number must carry
// the same programs: the sender stamps a fresh time into every section it
// sends, so the time descriptor (and with it the CRC) may differ, nothing
// else. When anything else differs, two lists were sent under one version:
// that is a conflict, and the collection of that version starts again from
// the section that just came, so the two are never mixed.
class PlayListCollector {
 public:
  struct Result {
    PlayList* list = nullptr;  // a set was completed: the collector's, valid until the next Add
    bool conflict = false;     // this section contradicted one already taken
  };
  // A list comes back when this section completes a set whose version
  // differs from the last one handed on (the first set always counts), or
  // that replaces it after a conflict.
  Result Add(const DecodedSection& s) { return Add(s, nullptr); }
  // The same, taking the section's content: `s` is left holding another
  // section's (and its room), so that a decoder's scratch section is reused.
  Result Add(DecodedSection&& s) { return Add(s, &s); }

  // The same programs, numbering and table id extension; the time is not compared.
  static bool SameContent(const DecodedSection& a, const DecodedSection& b);

  // Steps whenever a set is started or handed on. While it stands still, a
  // section added again byte for byte changes nothing and reports nothing
  // (the repeat of one already taken), so the monitor may skip it.
  uint64_t Generation() const { return m_generation; }

 private:
  // A slot keeps its section's room when it is emptied, so that a new
  // version's sections are copied in without allocating.
  struct Set {
    int version = -1;  // -1: none
    uint8_t last = 0;
    bool have[MAX_SECTIONS] = {};
    DecodedSection slots[MAX_SECTIONS];
  };
  Result Add(const DecodedSection& s, DecodedSection* take);
  void Start(const DecodedSection& s, DecodedSection* take);
  void Place(const DecodedSection& s, DecodedSection* take);

  Set m_collecting;  // the set under way
  Set m_shown;       // the set last handed on, to tell a repeat from a conflict
  PlayList m_list;   // the list last handed on
  uint64_t m_generation = 0;
};

// One sender as the monitor tells them apart: the source address of its
// datagrams.
struct SourceSeen {
  uint32_t address = 0;  // network byte order
  uint64_t datagrams = 0;
  uint64_t playLists = 0;
  uint64_t conflicts = 0;
  bool decoded = true;        // false: not the expected source, only counted
  std::vector<int> versions;  // section versions in the order first seen after a change
};

struct MonitorCounters {
  TsCounters ts;  // summed over the decoded sources; datagrams counts all
  uint64_t crcErrors = 0;
  uint64_t badSections = 0;         // decoded errors other than the CRC
  uint64_t playLists = 0;           // complete lists of a new version (or after a conflict)
  uint64_t conflicts = 0;           // sections that came again under their version with other programs
  std::vector<int> versions;        // of the first decoded source (the expected one, when given)
  std::vector<SourceSeen> sources;  // in the order first seen
  uint64_t unlistedDatagrams = 0;   // from sources past the monitor's limit, not decoded
  std::optional<uint32_t> expectedSource;
};

// What happened that an operator must hear of at once.
struct MonitorEvent {
  enum class Kind { NewSource, Conflict };
  Kind kind = Kind::NewSource;
  uint32_t source = 0;
  int sources = 0;       // NewSource: sources seen so far, this one included
  bool expected = true;  // NewSource: the expected source, or the first when none is expected
  bool decoded = true;   // NewSource: its datagrams are decoded (false: not the expected source)
  uint8_t version = 0;   // Conflict
  uint8_t sectionNumber = 0;
};
// One line (no line break) for the operator; empty for a first source that
// is as expected, which is nothing to report.
std::string FormatEventText(const MonitorEvent& e);

// A failed health check: a short key (for JSON) and a sentence.
struct CheckFailure {
  std::string key;
  std::string message;
};
// The checks a health probe needs: no CRC error and no continuity error,
// one source (the expected one, when given), at least one complete list
// (from it). Empty when all passed.
std::vector<CheckFailure> FailedChecks(const MonitorCounters& c);

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
  using EventSink = std::function<void(const MonitorEvent&)>;
  explicit PlayListMonitor(ListSink sink, EventSink events = nullptr);
  ~PlayListMonitor();

  // One datagram, with its arrival on the monotonic clock in nanoseconds
  // and the address it came from (network byte order).
  void Feed(const uint8_t* data, size_t size, int64_t arrivalNs = 0, uint32_t source = 0);
  // When on, the arrival spacings are kept for Stats(): all of them, or the
  // latest `limit` of each kind, for a receiver that runs for days.
  void KeepArrivals(bool on, size_t limit = SIZE_MAX) {
    m_keepArrivals = on;
    m_arrivalLimit = limit == 0 ? 1 : limit;
  }
  // Every section that decoded whole, with its source, before it goes to
  // the source's collection.
  using SectionSink = std::function<void(const DecodedSection&, uint32_t source)>;
  void OnSections(SectionSink sink) { m_sections = std::move(sink); }
  // Decodes the datagrams of this source only; the others are counted and
  // reported. Call before the first Feed.
  void ExpectSource(uint32_t address) { m_expected = address; }

  MonitorCounters Counters() const;
  // Spacing between consecutive packets of one section (continuous, not a
  // section start), and between any two consecutive packets.
  Spacing WithinSection() const { return SummariseSpacing(m_within); }
  Spacing AllPackets() const { return SummariseSpacing(m_all); }

  // Sources told apart, each with its own reassembly; datagrams from any
  // further source are counted, never decoded.
  static constexpr size_t kMaxSources = 64;

 private:
  struct Source;
  Source* Find(uint32_t address);
  void OnSection(Source& src, const uint8_t* data, size_t size);

  ListSink m_sink;
  EventSink m_events;
  std::optional<uint32_t> m_expected;
  std::vector<std::unique_ptr<Source>> m_sources;
  uint64_t m_unlisted = 0;
  uint64_t m_crcErrors = 0, m_badSections = 0, m_playLists = 0, m_conflicts = 0;
  bool m_keepArrivals = false;
  size_t m_arrivalLimit = SIZE_MAX;
  int64_t m_lastArrival = -1;
  std::vector<double> m_within, m_all;
  size_t m_withinNext = 0, m_allNext = 0;  // where the next one goes once the limit is reached
  SectionSink m_sections;
};

// Names are bytes as sent: any code page, any control byte. These make them
// safe to print.
// The length of the well-formed UTF-8 character at p (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF), 0 when there is none.
size_t Utf8CharLength(const unsigned char* p, size_t n);
bool IsUtf8(std::string_view s);
// For a terminal: control bytes (C0, DEL, and the C1 range U+0080..U+009F)
// and bytes that are not UTF-8 become \xNN, a backslash becomes \\;
// everything else is copied.
std::string EscapeForTerminal(std::string_view s);
// A JSON string literal, always valid UTF-8: UTF-8 characters as they are
// (control characters, U+2028 and U+2029 as \uNNNN), each byte that is not
// UTF-8 read as ISO 8859-1, i.e. byte 0xNN as \u00NN.
void AppendJsonString(std::string& out, std::string_view s);

// The readable table and the one-line JSON form of a play list, the names
// decoded in the code page the head end sends them in (by default the
// process's, see text/code_page.h) and printed as UTF-8. A byte that is no
// character of that code page is shown as above (\xNN, \u00NN), and in JSON
// such a name also carries "name_hex", its exact bytes.
std::string FormatPlayListTable(const PlayList& list, const CodePage& names = HeadEndCodePage());
std::string FormatPlayListJson(const PlayList& list, const CodePage& names = HeadEndCodePage());
// The counters, as lines of "name: value" or as one JSON object.
std::string FormatCountersText(const MonitorCounters& c);
std::string FormatCountersJson(const MonitorCounters& c);
std::string FormatSpacingText(const char* what, const Spacing& s);
// "a.b.c.d" of an address in network byte order.
std::string FormatSourceAddress(uint32_t address);
