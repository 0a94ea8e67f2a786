#include "monitor/play_list_monitor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "text/string_printf.h"
#include "wire/wire_format.h"

void PlayListCollector::Restart(const DecodedSection& s) {
  m_collecting = true;
  m_version = s.version;
  m_last = s.lastSection;
  for (auto& slot : m_slots) slot.reset();
}

std::optional<PlayList> PlayListCollector::Add(const DecodedSection& s) {
  if (s.version == m_completedVersion) return std::nullopt;  // already shown
  // A new version or a new section count starts the set afresh: sections of
  // two lists must never be mixed.
  if (!m_collecting || s.version != m_version || s.lastSection != m_last) Restart(s);
  m_slots[s.sectionNumber] = s;
  for (int i = 0; i <= m_last; ++i)
    if (!m_slots[i]) return std::nullopt;
  PlayList list;
  list.version = m_version;
  list.sections = m_last + 1;
  list.time = m_slots[0]->time;
  for (int i = 0; i <= m_last; ++i)
    list.programs.insert(list.programs.end(), m_slots[i]->programs.begin(), m_slots[i]->programs.end());
  m_completedVersion = m_version;
  m_collecting = false;
  return list;
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

PlayListMonitor::PlayListMonitor(ListSink sink)
    : m_sink(std::move(sink)), m_reassembler(wire::PID, [this](const uint8_t* d, size_t n) { OnSection(d, n); }) {}

void PlayListMonitor::Feed(const uint8_t* data, size_t size, int64_t arrivalNs) {
  const uint64_t before = m_reassembler.Counters().packets;
  m_reassembler.Feed(data, size);
  if (!m_keepArrivals || m_reassembler.Counters().packets == before) return;
  if (m_lastArrival >= 0) {
    const double us = static_cast<double>(arrivalNs - m_lastArrival) / 1000.0;
    m_all.push_back(us);
    if (!m_reassembler.LastWasUnitStart() && m_reassembler.LastWasContinuous()) m_within.push_back(us);
  }
  m_lastArrival = arrivalNs;
}

void PlayListMonitor::OnSection(const uint8_t* data, size_t size) {
  DecodedSection s;
  const SectionError e = DecodeSection(data, size, s);
  if (e == SectionError::BadCrc) {
    ++m_counters.crcErrors;
    return;
  }
  if (e != SectionError::None) {
    ++m_counters.badSections;
    return;
  }
  if (m_counters.versions.empty() || m_counters.versions.back() != s.version) m_counters.versions.push_back(s.version);
  if (auto list = m_collector.Add(s)) {
    ++m_counters.playLists;
    m_sink(*list);
  }
}

MonitorCounters PlayListMonitor::Counters() const {
  MonitorCounters c = m_counters;
  c.ts = m_reassembler.Counters();
  return c;
}

namespace {

std::string TimeText(const DecodedTime& t) {
  if (!t.present) return "-";
  // The descriptor carries the year modulo 100.
  return StringPrintf("20%02u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

void JsonString(std::string& out, const std::string& s) {
  out += '"';
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      out += StringPrintf("\\u%04x", c);
    } else {
      out += static_cast<char>(c);  // names are UTF-8 bytes; passed as they are
    }
  }
  out += '"';
}

}  // namespace

std::string FormatPlayListTable(const PlayList& l) {
  std::string out = StringPrintf("play list version %u, %d section%s, %zu program%s, time %s\n", l.version, l.sections,
                                 l.sections == 1 ? "" : "s", l.programs.size(), l.programs.size() == 1 ? "" : "s",
                                 TimeText(l.time).c_str());
  if (l.programs.empty()) return out;
  out += "  Number  Group  Multicast         Port  HD  Name\n";
  for (const DecodedProgram& p : l.programs) {
    out += StringPrintf("  %6u  %5u  %-15s  %5u  %2u  ", p.nNumber, p.nGroup, FormatAddress(p.address).c_str(), p.nPort,
                        p.bHD);
    out += p.name;
    out += '\n';
  }
  return out;
}

std::string FormatPlayListJson(const PlayList& l) {
  std::string out = StringPrintf("{\"version\":%u,\"sections\":%d,\"time\":", l.version, l.sections);
  if (l.time.present)
    JsonString(out, TimeText(l.time));
  else
    out += "null";
  out += ",\"programs\":[";
  for (size_t i = 0; i < l.programs.size(); ++i) {
    const DecodedProgram& p = l.programs[i];
    out += StringPrintf("%s{\"number\":%u,\"group\":%u,\"multicast\":\"%s\",\"port\":%u,\"name\":", i ? "," : "",
                        p.nNumber, p.nGroup, FormatAddress(p.address).c_str(), p.nPort);
    JsonString(out, p.name);
    out += StringPrintf(",\"hd\":%u}", p.bHD);
  }
  out += "]}\n";
  return out;
}

namespace {

struct Field {
  const char* name;
  uint64_t value;
};

std::vector<Field> Fields(const MonitorCounters& c) {
  return {{"datagrams", c.ts.datagrams},    {"packets", c.ts.packets},
          {"sections", c.ts.sections},      {"play_lists", c.playLists},
          {"crc_errors", c.crcErrors},      {"continuity_errors", c.ts.continuityErrors},
          {"bad_sections", c.badSections},  {"dropped_sections", c.ts.droppedSections},
          {"duplicates", c.ts.duplicates},  {"bad_size", c.ts.badSize},
          {"sync_errors", c.ts.syncErrors}, {"transport_errors", c.ts.transportErrors},
          {"other_pid", c.ts.otherPid},     {"versions_seen", c.versions.size()}};
}

}  // namespace

std::string FormatCountersText(const MonitorCounters& c) {
  std::string out;
  for (const Field& f : Fields(c)) out += StringPrintf("%s: %llu\n", f.name, static_cast<unsigned long long>(f.value));
  out += "versions:";
  for (int v : c.versions) out += StringPrintf(" %d", v);
  out += '\n';
  return out;
}

std::string FormatCountersJson(const MonitorCounters& c) {
  std::string out = "{";
  for (const Field& f : Fields(c))
    out += StringPrintf("\"%s\":%llu,", f.name, static_cast<unsigned long long>(f.value));
  out += "\"versions\":[";
  for (size_t i = 0; i < c.versions.size(); ++i) out += StringPrintf(i ? ",%d" : "%d", c.versions[i]);
  out += "]}";
  return out;
}

std::string FormatSpacingText(const char* what, const Spacing& s) {
  return StringPrintf("%s: n=%zu median=%.3f ms p10=%.3f ms p90=%.3f ms\n", what, s.count, s.median / 1000.0,
                      s.p10 / 1000.0, s.p90 / 1000.0);
}
