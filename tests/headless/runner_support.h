// Helpers of the tests that run iptv-headless as a process: a runner with
// its own command line, config files written the way an editor saves them,
// and what the monitor saw.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../e2e/air_support.h"
#include "storage/config_file.h"

extern char** environ;

namespace runner {

namespace fs = std::filesystem;

// A scratch directory of its own, removed at the end.
struct Scratch {
  fs::path dir;
  explicit Scratch(const std::string& name) {
    dir = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~Scratch() { fs::remove_all(dir); }
  std::string File(const std::string& name) const { return (dir / name).string(); }
};

inline std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Written to a temporary name and renamed into place, as editors save: the
// runner reads the old file or the new one, never half of one.
inline void WriteConfig(const std::string& path, const std::string& bytes) {
  const std::string temp = path + ".writing";
  std::ofstream(temp, std::ios::binary) << bytes;
  fs::rename(temp, path);
}

// The file the window would save for these programs (file order, ordering
// off, so the air carries them in this order).
inline std::string ConfigOf(const std::vector<ProgramEntry>& programs, int version) {
  std::vector<RowTexts> rows;
  for (size_t i = 0; i < programs.size(); ++i) rows.push_back(FormatRow(static_cast<int>(i), programs[i]));
  return FormatConfig(rows, 10, static_cast<uint8_t>(version), 0);
}

inline std::vector<DecodedProgram> OnAir(const std::vector<ProgramEntry>& programs) {
  std::vector<DecodedProgram> out;
  for (const ProgramEntry& e : programs) out.push_back(ExpectedOnAir(e));
  return out;
}

// A list of `sections` sections whose names begin with `tag` (at most 8
// bytes), so that lists of the same size differ. The names keep their 20
// bytes, and with them the number of sections.
inline std::vector<ProgramEntry> Tagged(int sections, const std::string& tag) {
  std::vector<ProgramEntry> v = TableOfSections(sections);
  char name[32];
  for (size_t i = 0; i < v.size(); ++i) {
    std::snprintf(name, sizeof name, "%-8.8s%012zu", tag.c_str(), i);
    CopyField(v[i].szName, name);
  }
  return v;
}

class Runner {
 public:
  // Runs iptv-headless with `args` (after the program name), standard
  // output to `out` and standard error to `out`.err.
  Runner(const std::vector<std::string>& args, const fs::path& out) : m_err(out.string() + ".err") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv{const_cast<char*>(IPTV_HEADLESS_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    m_ok = posix_spawn(&m_pid, IPTV_HEADLESS_PATH, &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Runner() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  bool Started() const { return m_ok; }
  void Signal(int s) { kill(m_pid, s); }
  // Waits (bounded) for the process to end; its wait status, or -1.
  int WaitExit(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }
  bool Running() { return m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0; }
  std::string Err() const { return ReadFile(m_err); }

 private:
  pid_t m_pid = -1;
  bool m_ok = false;
  std::string m_err;
};

inline int ExitCode(int status) { return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Every list the monitor printed was one of `known`, and no version carried
// two different lists. Names the first fault.
inline testing::AssertionResult OnlyKnownListsEachUnderItsOwnVersions(
    const std::vector<PlayList>& printed, const std::vector<std::vector<DecodedProgram>>& known) {
  std::vector<int> owner(256, -1);
  for (size_t i = 0; i < printed.size(); ++i) {
    int which = -1;
    for (size_t k = 0; k < known.size() && which < 0; ++k)
      if (printed[i].programs == known[k]) which = static_cast<int>(k);
    if (which < 0)
      return testing::AssertionFailure() << "list " << i << " (version " << int{printed[i].version} << ", "
                                         << printed[i].programs.size() << " programs) was never in the file";
    int& o = owner[printed[i].version];
    if (o >= 0 && o != which)
      return testing::AssertionFailure() << "version " << int{printed[i].version} << " carried list " << o
                                         << " and list " << which;
    o = which;
  }
  return testing::AssertionSuccess();
}

}  // namespace runner
