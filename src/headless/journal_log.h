// Messages on standard error in the form the journal reads: when standard
// error is the journal's stream (systemd says so in $JOURNAL_STREAM, as
// "device:inode" of that stream), each line starts with its syslog priority
// in angle brackets, so errors and warnings show as such in `journalctl -p`.
// Elsewhere (a terminal, a file, a pipe) lines are written as they are.
#pragma once

#include <cstdio>
#include <string>

enum class LogPriority { Error = 3, Warning = 4, Notice = 6 };

// True when $JOURNAL_STREAM names the file that standard error is. Worked out
// once, at the first call.
bool StderrIsJournal();
// The same test for any stream value and descriptor (tests).
bool StreamIsJournal(const char* journalStream, int fd);

// Writes the priority prefix when standard error is the journal and returns
// stderr, so a message is `std::fprintf(LogTo(LogPriority::Warning), ...)`.
// The message must be one line: a prefix holds for its line only.
std::FILE* LogTo(LogPriority priority);
// "<4>" and the like, or "" when standard error is not the journal.
std::string JournalPrefix(LogPriority priority);
