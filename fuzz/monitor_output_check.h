// What every printed form of the monitor must be, whatever came off the
// air: the table one line per program, nothing a terminal would act on, and
// valid UTF-8; the JSON valid JSON in valid UTF-8. Aborts otherwise.
#pragma once

#include <cstdlib>
#include <string>

#include "json_check.h"
#include "monitor/play_list_monitor.h"

namespace monitor_fuzz {

inline void Require(bool ok) {
  if (!ok) std::abort();
}

inline void CheckTerminalText(const std::string& text) {
  Require(json_check::WellFormedUtf8(text));
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    Require(c == '\n' || (c >= 0x20 && c != 0x7F));
    // U+0080..U+009F, the C1 controls
    if (c == 0xC2 && i + 1 < text.size()) Require(static_cast<unsigned char>(text[i + 1]) >= 0xA0);
  }
}

inline void CheckPrintedList(const PlayList& l) {
  Require(l.version < 32 && l.sections >= 1 && l.sections <= MAX_SECTIONS);
  // An entry takes at least 17 bytes of a section's 1000.
  Require(l.programs.size() <= static_cast<size_t>(MAX_SECTIONS) * 58);
  const std::string table = FormatPlayListTable(l);
  CheckTerminalText(table);
  size_t lines = 0;
  for (char c : table) lines += c == '\n';
  Require(lines == (l.programs.empty() ? 1 : 2 + l.programs.size()));
  Require(table.back() == '\n');
  const std::string json = FormatPlayListJson(l);
  Require(json.find('\n') == json.size() - 1);
  Require(json_check::Valid(json));
}

inline void CheckEndForms(const MonitorCounters& c) {
  CheckTerminalText(FormatCountersText(c));
  Require(json_check::Valid(FormatCountersJson(c)));
  for (const CheckFailure& f : FailedChecks(c)) CheckTerminalText(f.message);
}

}  // namespace monitor_fuzz
