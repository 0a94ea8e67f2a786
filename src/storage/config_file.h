// config.txt: the program list and three settings (send period, play-list
// version, order by number), stored beside the executable and rewritten
// after every edit.
//
// Format (bytes, CR LF line ends, nothing escaped):
//   IPTV multicast IP List
//   @freq:10#
//   @version:3#
//   @index:1#
//   @mcast:101:News:224.2.2.1:10001:studio feed:2:1#   (one per program)
//   @end#
//
// Threads: the reader and the writer touch no global. The window thread
// reads into a LoadedConfig, then publishes it under g_TableGuard as one
// edit, so the broadcast thread never sees a half-read table and no file
// I/O or message box happens while the guard is held.
//
// Bounds the reader keeps (the table's fields are fixed):
// - Program lines after the 300th are neither stored nor parsed; settings
//   lines and "@end" after them still count. One message per load says how
//   many were left out.
// - A name or remark longer than 127 bytes is cut to fit, never inside a
//   UTF-8 character. One message per load says how many programs were cut.
// - An address text longer than 19 bytes is refused exactly like an address
//   that does not convert ("错误的IP地址", the load ends there): cutting it
//   would store a different address from the one in the file.
// - A NUL byte ends the text of its line, as in the C string it was read into.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "table/program_table.h"
#include "table/prompter.h"

struct LoadedConfig {
  std::vector<ProgramEntry> programs;    // the complete programs read, in file order, never more than MAX_PROGRAMS
  std::optional<uint32_t> freq;          // "freq" (atoi result as unsigned 32-bit: -1 -> 4294967295)
  std::optional<uint8_t> version;        // low 8 bits of "version"
  std::optional<int32_t> orderByNumber;  // 1 when "index" is non-zero, else 0
  bool opened = false;                   // the file could be opened
};

// Reads the file at `path`. A file that cannot be opened (or is a
// directory) gives opened=false and no message. Every message goes to
// `messages` (ShowMessage, no icon). A setting the file does not hold stays
// unset; the caller keeps its current value.
LoadedConfig LoadConfig(const std::string& path, Prompter& messages);
// The same reader over any byte stream; `path` only names the file in
// messages.
LoadedConfig LoadConfigFrom(std::istream& in, const std::string& path, Prompter& messages);

// The exact bytes the writer produces from the rows' cell texts: columns 1,
// 4, 6 and 7 go through SaturatingAtoi, columns 2, 3 and 5 are copied as
// they are (up to a NUL). Lines are never cut, whatever their length.
std::string FormatConfig(const std::vector<RowTexts>& rows, uint32_t sendRate, uint8_t version, int32_t orderByNumber);

struct SaveResult {
  bool ok;
  std::string error;  // "<path>: <reason>" when !ok
};

// Replaces the file atomically: a temp file in the same directory is
// written, flushed to disk and renamed over `path`, then the directory is
// flushed. A crash or kill at any moment leaves either the old or the new
// file whole. On failure the old file stays untouched and the temp file is
// removed (a kill can leave a "config.txt.tmp.*" file behind; it is never
// read). A new file gets the mode an ordinary create would give; a
// replaced one keeps its mode.
SaveResult SaveConfig(const std::string& path, const std::vector<RowTexts>& rows, uint32_t sendRate, uint8_t version,
                      int32_t orderByNumber);

// Tells the operator about failed saves once per run of failures: the first
// failure after start or after a success shows one message; further
// failures are quiet until a save succeeds again.
class SaveFailureReporter {
 public:
  explicit SaveFailureReporter(Prompter& prompter) : m_prompter(prompter) {}
  void Report(const SaveResult& result);

 private:
  Prompter& m_prompter;
  bool m_failing = false;
};

// "<directory of the running executable>/config.txt", from /proc/self/exe,
// any length. Empty when the executable's path cannot be had; loading then
// finds no file and saving fails with a reason.
std::string ConfigPathBesideExecutable();
