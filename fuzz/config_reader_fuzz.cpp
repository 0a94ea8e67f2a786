// libFuzzer target for the config.txt reader: any bytes must load without a
// crash, stay within the table's bounds and keep every text field
// terminated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "storage/config_file.h"

namespace {

struct QuietPrompter : Prompter {
  void ShowMessage(const std::string& text, MessageIcon) override { total += text.size(); }
  bool AskOkCancel(const std::string&, const std::string&) override { return false; }
  size_t total = 0;
};

template <size_t N>
void CheckTerminated(const char (&field)[N]) {
  if (memchr(field, '\0', N) == nullptr) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  QuietPrompter prompter;
  const LoadedConfig got = LoadConfigFrom(in, "config.txt", prompter);
  if (got.programs.size() > static_cast<size_t>(MAX_PROGRAMS)) abort();
  std::vector<RowTexts> rows;
  for (const ProgramEntry& e : got.programs) {
    CheckTerminated(e.szName);
    CheckTerminated(e.szMulticast);
    CheckTerminated(e.szNote);
    rows.push_back(FormatRow(static_cast<int>(rows.size()), e));
  }
  // What was read must write out and read back to the same programs, as
  // long as no text holds a ":" or a line break (nothing is escaped).
  const std::string written = FormatConfig(rows, got.freq.value_or(10), got.version.value_or(0), 0);
  bool plain = true;
  for (const RowTexts& row : rows) {
    for (int c : {2, 3, 5}) plain = plain && row[c].find_first_of(":\r\n#") == std::string::npos;
  }
  if (plain) {
    std::istringstream again(written);
    QuietPrompter quiet;
    const LoadedConfig back = LoadConfigFrom(again, "config.txt", quiet);
    if (back.programs.size() != rows.size() || quiet.total != 0) abort();
    for (size_t i = 0; i < rows.size(); ++i) {
      if (FormatRow(static_cast<int>(i), back.programs[i]) != rows[i]) abort();
    }
  }
  return 0;
}
