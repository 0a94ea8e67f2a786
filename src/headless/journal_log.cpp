#include "headless/journal_log.h"

#include <sys/stat.h>

#include <cstdlib>

bool StreamIsJournal(const char* journalStream, int fd) {
  if (journalStream == nullptr || journalStream[0] == '\0') return false;
  unsigned long long dev = 0, ino = 0;
  int used = 0;
  if (std::sscanf(journalStream, "%llu:%llu%n", &dev, &ino, &used) != 2 || journalStream[used] != '\0') return false;
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == dev && static_cast<unsigned long long>(st.st_ino) == ino;
}

bool StderrIsJournal() {
  static const bool journal = StreamIsJournal(std::getenv("JOURNAL_STREAM"), 2);
  return journal;
}

std::string JournalPrefix(LogPriority priority) {
  if (!StderrIsJournal()) return {};
  return "<" + std::to_string(static_cast<int>(priority)) + ">";
}

std::FILE* LogTo(LogPriority priority) {
  const std::string prefix = JournalPrefix(priority);
  if (!prefix.empty()) std::fputs(prefix.c_str(), stderr);
  return stderr;
}
