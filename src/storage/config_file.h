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
//   character of the head end's code page. One message per load says how
//   many programs were cut.
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

// How far a load got.
enum class LoadStatus {
  Complete,    // read to the end line or the end of the file
  Missing,     // nothing at the path: no message, as an empty list always was
  Unreadable,  // there, but not a regular file, or it could not be opened or read: one message
  Stopped,     // the reader stopped at a bad line: its message, followed by the file and the line
};

struct LoadedConfig {
  std::vector<ProgramEntry> programs;    // the complete programs read, in file order, never more than MAX_PROGRAMS
  std::optional<uint32_t> freq;          // "freq" (atoi result as unsigned 32-bit: -1 -> 4294967295)
  std::optional<uint8_t> version;        // low 8 bits of "version"
  std::optional<int32_t> orderByNumber;  // 1 when "index" is non-zero, else 0
  bool opened = false;                   // the file could be opened and read
  LoadStatus status = LoadStatus::Missing;
  std::string problem;            // Missing, Unreadable: "<path>: <reason>"
  int stoppedAtLine = 0;          // Stopped: the file's line, 1 being the header
  int programLinesNotLoaded = 0;  // program lines not in `programs`: from the bad line on, and past the 300th
  int unknownLines = 0;           // lines skipped as "未知格式"
  int cutPrograms = 0;            // programs whose name or remark was cut to fit

  // True when `programs` and the settings are everything the file holds:
  // it was read to its end, nothing was left out, skipped as unknown or cut.
  // A missing file is not complete: nothing at all was read.
  bool Complete() const {
    return status == LoadStatus::Complete && programLinesNotLoaded == 0 && unknownLines == 0 && cutPrograms == 0;
  }
};

// Reads the file at `path`. Only a regular file is read: it is opened
// without waiting (a FIFO never blocks the caller) and checked before a byte
// is read. A missing file gives status Missing and no message; anything else
// that cannot be read (a directory, FIFO, device, no permission, a read
// error, more than 64 MiB) gives one message naming the path and the reason.
// Every message goes to `messages` (ShowMessage, no icon). A message that
// stops the load keeps its exact text first, then a new line names the file
// and the line and says how many program lines were not loaded. A setting
// the file does not hold stays unset; the caller keeps its current value.
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

// Replaces the file at `path` with `data` the way SaveConfig does
// (temporary file, flush, rename, directory flush).
SaveResult ReplaceFile(const std::string& path, const std::string& data);

struct KeepResult {
  bool ok;
  std::string keptAs;  // the new name; empty when there was nothing to keep
  std::string error;   // "<path>: <reason>" when !ok
};

// Before a save replaces a file whose last load was incomplete: keeps
// whatever is at `path` now under "<path>.bad-YYYYMMDD-HHMMSS" (local time;
// "-2", "-3", ... after it when that name is taken), as a second name of the
// same file where the file system allows it, else by moving it there. Never
// replaces an existing file. ok with an empty keptAs when nothing is at
// `path`.
KeepResult KeepBeside(const std::string& path);

// Tells the operator about failed saves once per run of failures: the first
// failure after start or after a success shows one message; further
// failures are quiet until a save succeeds again.
class SaveFailureReporter {
 public:
  explicit SaveFailureReporter(Prompter& prompter) : m_prompter(prompter) {}
  void Report(const SaveResult& result);
  // The last save failed and none has succeeded since.
  bool Failing() const { return m_failing; }

 private:
  Prompter& m_prompter;
  bool m_failing = false;
};

// "<directory of the running executable>/config.txt", from /proc/self/exe,
// any length. Empty when the executable's path cannot be had; loading then
// finds no file and saving fails with a reason.
std::string ConfigPathBesideExecutable();
