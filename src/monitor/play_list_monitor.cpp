#include "monitor/play_list_monitor.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "text/string_printf.h"
#include "wire/wire_format.h"

bool PlayListCollector::SameContent(const DecodedSection& a, const DecodedSection& b) {
  return a.tableIdExtension == b.tableIdExtension && a.version == b.version && a.sectionNumber == b.sectionNumber &&
         a.lastSection == b.lastSection && a.programs == b.programs;
}

void PlayListCollector::Place(const DecodedSection& s, DecodedSection* take) {
  const int n = s.sectionNumber;
  m_collecting.have[n] = true;
  // Last: a section taken leaves `s` with what the slot held.
  if (take != nullptr)
    std::swap(m_collecting.slots[n], *take);
  else
    m_collecting.slots[n] = s;
}

void PlayListCollector::Start(const DecodedSection& s, DecodedSection* take) {
  ++m_generation;
  m_collecting.version = s.version;
  m_collecting.last = s.lastSection;
  for (bool& have : m_collecting.have) have = false;
  Place(s, take);
}

PlayListCollector::Result PlayListCollector::Add(const DecodedSection& s, DecodedSection* take) {
  Result r;
  const int n = s.sectionNumber;
  if (m_collecting.version == s.version) {
    if (m_collecting.last != s.lastSection || (m_collecting.have[n] && !SameContent(m_collecting.slots[n], s))) {
      r.conflict = true;
      Start(s, take);
    } else {
      Place(s, take);  // the latest time
    }
  } else if (m_shown.version == s.version) {
    // Already handed on: a repeat says nothing new, a change is a conflict.
    // A set under way for another version is kept for a repeat.
    if (m_shown.last == s.lastSection && m_shown.have[n] && SameContent(m_shown.slots[n], s)) return r;
    r.conflict = true;
    Start(s, take);
  } else {
    // A new version starts the set afresh: sections of two lists must never
    // be mixed.
    Start(s, take);
  }
  for (int i = 0; i <= m_collecting.last; ++i)
    if (!m_collecting.have[i]) return r;
  PlayList& list = m_list;
  list.version = static_cast<uint8_t>(m_collecting.version);
  list.sections = m_collecting.last + 1;
  list.time = m_collecting.slots[0].time;
  list.source = 0;
  // Assigned over the last list's programs, which keeps their room.
  size_t count = 0;
  for (int i = 0; i <= m_collecting.last; ++i) {
    for (const DecodedProgram& p : m_collecting.slots[i].programs) {
      if (count < list.programs.size())
        list.programs[count] = p;
      else
        list.programs.push_back(p);
      ++count;
    }
  }
  list.programs.resize(count);
  std::swap(m_shown, m_collecting);
  m_collecting.version = -1;
  m_collecting.last = 0;
  for (bool& have : m_collecting.have) have = false;
  ++m_generation;
  r.list = &list;
  return r;
}

Spacing SummariseSpacing(std::vector<double> v) {
  Spacing s;
  s.count = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  auto rank = [&](double q) {
    size_t r = static_cast<size_t>(std::ceil(q * static_cast<double>(v.size())));
    return v[r == 0 ? 0 : r - 1];
  };
  s.p10 = rank(0.10);
  s.median = rank(0.50);
  s.p90 = rank(0.90);
  return s;
}

namespace {
// A sender that changes its version at every section would otherwise grow
// the list without end.
constexpr size_t kMaxVersionsKept = 1024;
}  // namespace

struct PlayListMonitor::Source {
  Source(PlayListMonitor& m, uint32_t address)
      : reassembler(wire::PID, [&m, this](const uint8_t* d, size_t n) { m.OnSection(*this, d, n); }) {
    seen.address = address;
  }
  SectionReassembler reassembler;
  PlayListCollector collector;
  SourceSeen seen;
  // The last section decoded for each number, and the collector's generation
  // after it was added: the same bytes again, with the collector where it
  // was, are a repeat that needs no decoding.
  struct LastDecoded {
    std::vector<uint8_t> bytes;
    uint64_t generation = 0;
    bool valid = false;
  };
  LastDecoded last[MAX_SECTIONS];
  DecodedSection decoded;  // each section is decoded into this, which keeps its room
};

PlayListMonitor::PlayListMonitor(ListSink sink, EventSink events)
    : m_sink(std::move(sink)), m_events(std::move(events)) {}

PlayListMonitor::~PlayListMonitor() = default;

PlayListMonitor::Source* PlayListMonitor::Find(uint32_t address) {
  for (auto& s : m_sources)
    if (s->seen.address == address) return s.get();
  if (m_sources.size() >= kMaxSources) return nullptr;
  m_sources.push_back(std::make_unique<Source>(*this, address));
  Source* src = m_sources.back().get();
  src->seen.decoded = !m_expected || *m_expected == address;
  if (m_events) {
    MonitorEvent e;
    e.kind = MonitorEvent::Kind::NewSource;
    e.source = address;
    e.sources = static_cast<int>(m_sources.size());
    e.expected = m_expected ? *m_expected == address : m_sources.size() == 1;
    e.decoded = src->seen.decoded;
    m_events(e);
  }
  return src;
}

void PlayListMonitor::Feed(const uint8_t* data, size_t size, int64_t arrivalNs, uint32_t source) {
  Source* src = Find(source);
  if (src == nullptr) {
    ++m_unlisted;
    return;
  }
  ++src->seen.datagrams;
  if (!src->seen.decoded) return;
  const uint64_t before = src->reassembler.Counters().packets;
  src->reassembler.Feed(data, size);
  if (!m_keepArrivals || src->reassembler.Counters().packets == before) return;
  if (m_lastArrival >= 0) {
    const double us = static_cast<double>(arrivalNs - m_lastArrival) / 1000.0;
    const auto keep = [this](std::vector<double>& v, size_t& next, double value) {
      if (v.size() < m_arrivalLimit) return v.push_back(value);
      v[next] = value;
      next = (next + 1) % v.size();
    };
    keep(m_all, m_allNext, us);
    if (!src->reassembler.LastWasUnitStart() && src->reassembler.LastWasContinuous()) keep(m_within, m_withinNext, us);
  }
  m_lastArrival = arrivalNs;
}

void PlayListMonitor::OnSection(Source& src, const uint8_t* data, size_t size) {
  Source::LastDecoded* last = nullptr;
  if (size > wire::SECTION_NUMBER_AT && data[wire::SECTION_NUMBER_AT] < MAX_SECTIONS) {
    last = &src.last[data[wire::SECTION_NUMBER_AT]];
    // The version is checked too: a repeat must not need a new entry in the
    // versions seen.
    if (last->valid && last->generation == src.collector.Generation() && last->bytes.size() == size &&
        !src.seen.versions.empty() && std::memcmp(last->bytes.data(), data, size) == 0 &&
        src.seen.versions.back() == ((data[wire::VERSION_AT] >> 1) & 0x1F))
      return;
  }
  DecodedSection& s = src.decoded;
  const SectionError e = DecodeSection(data, size, s);
  if (e == SectionError::BadCrc) {
    ++m_crcErrors;
    return;
  }
  if (e != SectionError::None) {
    ++m_badSections;
    return;
  }
  if (m_sections) m_sections(s, src.seen.address);
  std::vector<int>& versions = src.seen.versions;
  if ((versions.empty() || versions.back() != s.version) && versions.size() < kMaxVersionsKept)
    versions.push_back(s.version);
  const uint8_t version = s.version, number = s.sectionNumber;
  PlayListCollector::Result r = src.collector.Add(std::move(s));  // s is not read again
  if (r.conflict) {
    ++m_conflicts;
    ++src.seen.conflicts;
    if (m_events) {
      MonitorEvent ev;
      ev.kind = MonitorEvent::Kind::Conflict;
      ev.source = src.seen.address;
      ev.version = version;
      ev.sectionNumber = number;
      m_events(ev);
    }
  }
  if (last != nullptr && number < MAX_SECTIONS) {
    last = &src.last[number];
    last->bytes.assign(data, data + size);
    last->generation = src.collector.Generation();
    last->valid = true;
  }
  if (r.list) {
    ++m_playLists;
    ++src.seen.playLists;
    r.list->source = src.seen.address;
    m_sink(*r.list);
  }
}

MonitorCounters PlayListMonitor::Counters() const {
  MonitorCounters c;
  c.crcErrors = m_crcErrors;
  c.badSections = m_badSections;
  c.playLists = m_playLists;
  c.conflicts = m_conflicts;
  c.unlistedDatagrams = m_unlisted;
  c.expectedSource = m_expected;
  c.ts.datagrams = m_unlisted;
  bool primary = true;
  for (const auto& src : m_sources) {
    c.sources.push_back(src->seen);
    c.ts.datagrams += src->seen.datagrams;
    if (!src->seen.decoded) continue;
    if (primary) c.versions = src->seen.versions;
    primary = false;
    const TsCounters& t = src->reassembler.Counters();
    c.ts.packets += t.packets;
    c.ts.badSize += t.badSize;
    c.ts.syncErrors += t.syncErrors;
    c.ts.otherPid += t.otherPid;
    c.ts.transportErrors += t.transportErrors;
    c.ts.continuityErrors += t.continuityErrors;
    c.ts.duplicates += t.duplicates;
    c.ts.sections += t.sections;
    c.ts.droppedSections += t.droppedSections;
  }
  return c;
}

std::string FormatSourceAddress(uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = address;
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

std::string FormatEventText(const MonitorEvent& e) {
  const std::string from = FormatSourceAddress(e.source);
  if (e.kind == MonitorEvent::Kind::Conflict)
    return StringPrintf(
        "conflict: section %u of version %u from %s came again with other content; collecting version %u "
        "again",
        e.sectionNumber, e.version, from.c_str(), e.version);
  if (e.expected) return "";
  if (!e.decoded)
    return StringPrintf(
        "another source sends to the group: %s (%d sources now), not the expected one: counted, not decoded",
        from.c_str(), e.sources);
  return StringPrintf("another source sends to the group: %s (%d sources now); its sections are kept apart",
                      from.c_str(), e.sources);
}

std::vector<CheckFailure> FailedChecks(const MonitorCounters& c) {
  std::vector<CheckFailure> failed;
  if (c.crcErrors != 0)
    failed.push_back({"crc_errors", StringPrintf("%llu CRC errors", static_cast<unsigned long long>(c.crcErrors))});
  if (c.ts.continuityErrors != 0)
    failed.push_back({"continuity_errors",
                      StringPrintf("%llu continuity errors", static_cast<unsigned long long>(c.ts.continuityErrors))});
  // Without an expected source the first one seen is taken for the sender.
  std::string others;
  for (const SourceSeen& s : c.sources) {
    if (c.expectedSource ? s.address == *c.expectedSource : &s == &c.sources.front()) continue;
    others += (others.empty() ? "" : ", ") + FormatSourceAddress(s.address);
  }
  if (c.unlistedDatagrams != 0) others += (others.empty() ? "" : ", ") + std::string("more");
  if (!others.empty()) {
    if (c.expectedSource)
      failed.push_back(
          {"sources", "datagrams from other sources than " + FormatSourceAddress(*c.expectedSource) + ": " + others});
    else
      failed.push_back(
          {"sources", "more than one source: " +
                          (c.sources.empty() ? std::string() : FormatSourceAddress(c.sources[0].address) + ", ") +
                          others});
  }
  uint64_t lists = c.playLists;
  if (c.expectedSource) {
    lists = 0;
    for (const SourceSeen& s : c.sources)
      if (s.address == *c.expectedSource) lists = s.playLists;
  }
  if (lists == 0)
    failed.push_back({"play_list", c.expectedSource
                                       ? "no complete play list from " + FormatSourceAddress(*c.expectedSource)
                                       : std::string("no complete play list")});
  return failed;
}

size_t Utf8CharLength(const unsigned char* p, size_t n) {
  if (n == 0) return 0;
  const unsigned char b = p[0];
  if (b < 0x80) return 1;
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) lo = 0xA0;  // no overlong forms
    if (b == 0xED) hi = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (n < len || p[1] < lo || p[1] > hi) return 0;
  for (size_t i = 2; i < len; ++i)
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  return len;
}

bool IsUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) {
    const size_t len = Utf8CharLength(p + i, s.size() - i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string EscapeForTerminal(std::string_view s) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  auto hex = [&](unsigned char b) { out += StringPrintf("\\x%02X", b); };
  for (size_t i = 0; i < s.size();) {
    const unsigned char b = p[i];
    const size_t len = Utf8CharLength(p + i, s.size() - i);
    if (b == '\\') {
      out += "\\\\";
    } else if (len == 0 || b < 0x20 || b == 0x7F) {
      hex(b);
    } else if (len == 2 && b == 0xC2 && p[i + 1] < 0xA0) {
      hex(b);  // U+0080..U+009F: C1 controls, CSI among them
      hex(p[i + 1]);
    } else {
      out.append(s.substr(i, len));
    }
    i += len == 0 ? 1 : len;
  }
  return out;
}

namespace {

// The inside of a JSON string literal, without the quotes.
void AppendJsonBody(std::string& out, std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) {
    const unsigned char b = p[i];
    const size_t len = Utf8CharLength(p + i, s.size() - i);
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (len == 0) {
      out += StringPrintf("\\u%04x", b);  // not UTF-8: the byte as ISO 8859-1
    } else if (b < 0x20 || b == 0x7F) {
      out += StringPrintf("\\u%04x", b);
    } else if (len == 2 && b == 0xC2 && p[i + 1] < 0xA0) {
      out += StringPrintf("\\u%04x", p[i + 1]);
    } else if (len == 3 && b == 0xE2 && p[i + 1] == 0x80 && (p[i + 2] == 0xA8 || p[i + 2] == 0xA9)) {
      out += StringPrintf("\\u%04x", 0x2000 + (p[i + 2] - 0x80));  // U+2028, U+2029 end lines in JavaScript
    } else {
      out.append(s.substr(i, len));
    }
    i += len == 0 ? 1 : len;
  }
}

// A name decoded in the code page it was sent in: the characters that
// convert go through text() as UTF-8, every byte that is no character of the
// code page through badByte(). True when every byte converted.
template <typename Text, typename BadByte>
bool RenderName(std::string& out, std::string_view name, const CodePage& codePage, Text&& text, BadByte&& badByte) {
  std::string utf8;
  std::vector<std::pair<size_t, unsigned char>> bad;  // where in utf8, which byte
  const bool clean =
      codePage.ToUtf8(name, utf8, [&](std::string& o, unsigned char b) { bad.emplace_back(o.size(), b); });
  size_t from = 0;
  for (const auto& [at, b] : bad) {
    text(out, std::string_view(utf8).substr(from, at - from));
    badByte(out, b);
    from = at;
  }
  text(out, std::string_view(utf8).substr(from));
  return clean;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view s) {
  out += '"';
  AppendJsonBody(out, s);
  out += '"';
}

namespace {

std::string TimeText(const DecodedTime& t) {
  if (!t.present) return "-";
  // The descriptor carries the year modulo 100.
  return StringPrintf("20%02u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

}  // namespace

std::string FormatPlayListTable(const PlayList& l, const CodePage& names) {
  std::string out =
      StringPrintf("play list version %u, %d section%s, %zu program%s, time %s, from %s\n", l.version, l.sections,
                   l.sections == 1 ? "" : "s", l.programs.size(), l.programs.size() == 1 ? "" : "s",
                   TimeText(l.time).c_str(), FormatSourceAddress(l.source).c_str());
  if (l.programs.empty()) return out;
  out += "  Number  Group  Multicast         Port  HD  Name\n";
  for (const DecodedProgram& p : l.programs) {
    out += StringPrintf("  %6u  %5u  %-15s  %5u  %2u  ", p.nNumber, p.nGroup, FormatAddress(p.address).c_str(), p.nPort,
                        p.bHD);
    // A name is bytes from the air: a line break or an escape sequence in it
    // must not make a row of its own or reach the terminal.
    if (names.IsUtf8()) {
      out += EscapeForTerminal(p.name);
    } else {
      RenderName(
          out, p.name, names, [](std::string& o, std::string_view t) { o += EscapeForTerminal(t); },
          [](std::string& o, unsigned char b) { o += StringPrintf("\\x%02X", b); });
    }
    out += '\n';
  }
  return out;
}

std::string FormatPlayListJson(const PlayList& l, const CodePage& names) {
  std::string out = StringPrintf("{\"version\":%u,\"sections\":%d,\"time\":", l.version, l.sections);
  if (l.time.present)
    AppendJsonString(out, TimeText(l.time));
  else
    out += "null";
  out += ",\"programs\":[";
  for (size_t i = 0; i < l.programs.size(); ++i) {
    const DecodedProgram& p = l.programs[i];
    out += StringPrintf("%s{\"number\":%u,\"group\":%u,\"multicast\":\"%s\",\"port\":%u,\"name\":", i ? "," : "",
                        p.nNumber, p.nGroup, FormatAddress(p.address).c_str(), p.nPort);
    bool exact = true;
    if (names.IsUtf8()) {
      AppendJsonString(out, p.name);
      exact = IsUtf8(p.name);
    } else {
      out += '"';
      exact = RenderName(
          out, p.name, names, [](std::string& o, std::string_view t) { AppendJsonBody(o, t); },
          [](std::string& o, unsigned char b) { o += StringPrintf("\\u%04x", b); });
      out += '"';
    }
    if (!exact) {
      out += ",\"name_hex\":\"";
      for (unsigned char c : p.name) out += StringPrintf("%02x", c);
      out += '"';
    }
    out += StringPrintf(",\"hd\":%u}", p.bHD);
  }
  out += "],\"source\":\"" + FormatSourceAddress(l.source) + "\"}\n";
  return out;
}

namespace {

struct Field {
  const char* name;
  uint64_t value;
};

std::vector<Field> Fields(const MonitorCounters& c) {
  return {{"datagrams", c.ts.datagrams},
          {"packets", c.ts.packets},
          {"sections", c.ts.sections},
          {"play_lists", c.playLists},
          {"crc_errors", c.crcErrors},
          {"continuity_errors", c.ts.continuityErrors},
          {"bad_sections", c.badSections},
          {"dropped_sections", c.ts.droppedSections},
          {"duplicates", c.ts.duplicates},
          {"bad_size", c.ts.badSize},
          {"sync_errors", c.ts.syncErrors},
          {"transport_errors", c.ts.transportErrors},
          {"other_pid", c.ts.otherPid},
          {"versions_seen", c.versions.size()},
          {"conflicts", c.conflicts},
          {"sources_seen", c.sources.size()},
          {"unlisted_source_datagrams", c.unlistedDatagrams}};
}

std::string VersionList(const std::vector<int>& versions, const char* sep) {
  std::string out;
  for (size_t i = 0; i < versions.size(); ++i) out += StringPrintf("%s%d", i ? sep : "", versions[i]);
  return out;
}

bool IsExpected(const MonitorCounters& c, const SourceSeen& s) {
  return c.expectedSource && *c.expectedSource == s.address;
}

}  // namespace

std::string FormatCountersText(const MonitorCounters& c) {
  std::string out;
  for (const Field& f : Fields(c)) out += StringPrintf("%s: %llu\n", f.name, static_cast<unsigned long long>(f.value));
  out += "versions:";
  if (!c.versions.empty()) out += " " + VersionList(c.versions, " ");
  out += '\n';
  for (const SourceSeen& s : c.sources) {
    out += StringPrintf("source %s%s: datagrams %llu, play lists %llu, conflicts %llu, versions",
                        FormatSourceAddress(s.address).c_str(),
                        IsExpected(c, s) ? " (expected)"
                        : s.decoded      ? ""
                                         : " (not decoded)",
                        static_cast<unsigned long long>(s.datagrams), static_cast<unsigned long long>(s.playLists),
                        static_cast<unsigned long long>(s.conflicts));
    out += s.versions.empty() ? " -" : " " + VersionList(s.versions, " ");
    out += '\n';
  }
  return out;
}

std::string FormatCountersJson(const MonitorCounters& c) {
  std::string out = "{";
  for (const Field& f : Fields(c))
    out += StringPrintf("\"%s\":%llu,", f.name, static_cast<unsigned long long>(f.value));
  out += "\"versions\":[" + VersionList(c.versions, ",") + "],\"sources\":[";
  for (size_t i = 0; i < c.sources.size(); ++i) {
    const SourceSeen& s = c.sources[i];
    out += StringPrintf(
        "%s{\"address\":\"%s\",\"datagrams\":%llu,\"play_lists\":%llu,\"conflicts\":%llu,\"decoded\":%s,"
        "\"expected\":%s,\"versions\":[",
        i ? "," : "", FormatSourceAddress(s.address).c_str(), static_cast<unsigned long long>(s.datagrams),
        static_cast<unsigned long long>(s.playLists), static_cast<unsigned long long>(s.conflicts),
        s.decoded ? "true" : "false", IsExpected(c, s) ? "true" : "false");
    out += VersionList(s.versions, ",") + "]}";
  }
  out += "]";
  if (c.expectedSource) out += ",\"expected_source\":\"" + FormatSourceAddress(*c.expectedSource) + "\"";
  out += "}";
  return out;
}

std::string FormatSpacingText(const char* what, const Spacing& s) {
  return StringPrintf("%s: n=%zu median=%.3f ms p10=%.3f ms p90=%.3f ms\n", what, s.count, s.median / 1000.0,
                      s.p10 / 1000.0, s.p90 / 1000.0);
}
