#include "headless/runner_files.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "broadcast/section_encoder.h"
#include "editing/program_editor.h"
#include "headless/journal_log.h"

namespace {

// Counts what passes through to the real prompter.
class CountingPrompter : public Prompter {
 public:
  explicit CountingPrompter(Prompter& inner) : m_inner(inner) {}
  void ShowMessage(const std::string& text, MessageIcon icon) override {
    ++count;
    m_inner.ShowMessage(text, icon);
  }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    return m_inner.AskOkCancel(text, caption);
  }
  int count = 0;

 private:
  Prompter& m_inner;
};

// The sizes do not depend on the time the descriptor carries.
class AnyClock : public Clock {
 public:
  LocalTime Now() const override { return {2000, 1, 1, 0, 0, 0}; }
};

}  // namespace

CheckSummary CheckConfig(const std::string& path, Prompter& messages) {
  CountingPrompter counted(messages);
  const LoadedConfig loaded = LoadConfig(path, counted);
  // A load says nothing of a missing file (an empty list); a check must.
  if (loaded.status == LoadStatus::Missing) counted.ShowMessage(loaded.problem, MessageIcon::None);

  CheckSummary summary;
  std::vector<ProgramEntry> programs = loaded.programs;
  summary.programs = static_cast<int>(programs.size());
  // A file without "index" keeps the start-up value, ordering on.
  if (loaded.orderByNumber.value_or(1) != 0) SortByNumber(programs.data(), summary.programs);
  static SectionBuffers buffers;
  std::memset(buffers, 0, sizeof buffers);
  uint8_t last = 0;
  int leftOut = 0;
  const PlayListInput input{programs.data(), summary.programs, 0, nullptr};
  summary.bytes = BuildSection(buffers, 0, last, 0, input, AnyClock(), &leftOut);
  summary.sections = last + 1;
  if (loaded.freq && *loaded.freq == 0xFFFFFFFFu) counted.ShowMessage(SilentAirNotice(path), MessageIcon::None);
  summary.leftOut = leftOut;
  if (leftOut > 0) counted.ShowMessage(NotBroadcastNotice(leftOut, summary.programs), MessageIcon::None);
  summary.messages = counted.count;
  summary.clean = loaded.Complete() && counted.count == 0;
  return summary;
}

std::string FormatCheckSummary(const std::string& path, const CheckSummary& s) {
  char text[160];
  char leftOut[48] = "";
  if (s.leftOut > 0) std::snprintf(leftOut, sizeof leftOut, " (%d not on the air)", s.leftOut);
  std::snprintf(text, sizeof text, ": %d program%s%s, %d section%s, %d of %d bytes used; ", s.programs,
                s.programs == 1 ? "" : "s", leftOut, s.sections, s.sections == 1 ? "" : "s", s.bytes,
                MAX_SECTIONS * SECTION_SIZE);
  std::string out = path + text;
  out += s.clean ? "clean" : std::to_string(s.messages) + " message(s), not clean";
  return out;
}

SaveResult RunnerStateFile::Save(const AirRecord& record) {
  SaveResult result = AirRecordFile::Save(record);
  if (result.ok) {
    m_told = false;
  } else if (!m_told) {
    m_told = true;
    std::fprintf(LogTo(LogPriority::Warning),
                 "iptv-headless: the state file cannot be written (%s); after a restart a list edited meanwhile may "
                 "not reach receivers that hold the version last on the air\n",
                 result.error.c_str());
  }
  return result;
}
