// Saving config.txt: the replacement is atomic under a kill, a failed save
// leaves the old file and says why, and the operator hears of a run of
// failures once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <random>

#include "config_test_support.h"
#include "storage/config_file.h"

namespace {

std::vector<std::string> DirEntries(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path)) names.push_back(entry.path().filename());
  return names;
}

// Runs SaveConfig in a child process after `setup` (limits and user ids are
// per process) and hands its result back through a pipe.
SaveResult SaveInChild(const std::function<void()>& setup, const std::string& path, const std::vector<RowTexts>& rows) {
  int fds[2];
  if (pipe(fds) != 0) return {false, "pipe failed"};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    setup();
    const SaveResult r = SaveConfig(path, rows, 10, 1, 0);
    const std::string msg = (r.ok ? "1" : "0") + r.error;
    (void)!write(fds[1], msg.data(), msg.size());
    _exit(0);
  }
  close(fds[1]);
  std::string msg;
  char buf[512];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) msg.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (msg.empty()) return {false, "child reported nothing"};
  return {msg[0] == '1', msg.substr(1)};
}

TEST(SaveConfig, WritesTheFileAndKeepsTheModeOfTheOldOne) {
  TempDir dir;
  const std::string path = dir.File("config.txt");
  WriteBytes(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const std::vector<RowTexts> rows = VariedRows(3);

  const SaveResult r = SaveConfig(path, rows, 10, 1, 0);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(ReadBytes(path), FormatConfig(rows, 10, 1, 0));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"config.txt"});
}

TEST(SaveConfig, FailureLeavesTheOldFileAndGivesTheReason) {
  const struct {
    const char* what;
    std::function<void(const TempDir&)> prepare;  // in the test process
    std::function<void()> inChild;                // in the saving process
    int errnoWanted;
  } cases[] = {
      {"directory not writable", [](const TempDir& d) { chmod(d.path.c_str(), 0555); },
       [] {
         // Root writes anywhere: save as nobody instead.
         if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
       },
       EACCES},
      {"disk full while writing", [](const TempDir&) {},
       [] {
         signal(SIGXFSZ, SIG_IGN);
         const rlimit small{4096, 4096};
         setrlimit(RLIMIT_FSIZE, &small);
       },
       EFBIG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.File("config.txt");
    const std::string old = FormatConfig(VariedRows(1), 10, 0, 0);
    WriteBytes(path, old);
    chmod(dir.path.c_str(), 0755);  // nobody must reach the file's directory
    c.prepare(dir);

    const SaveResult r = SaveInChild(c.inChild, path, VariedRows(300));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, path + ": " + std::strerror(c.errnoWanted));
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"config.txt"});
  }
}

TEST(SaveConfig, AKilledSaveLeavesTheOldOrTheNewFileWhole) {
  TempDir dir;
  const std::string path = dir.File("config.txt");
  // Two large contents (about 85 KB each), so a kill often lands mid-write.
  const std::vector<RowTexts> rowsA = VariedRows(300);
  std::vector<RowTexts> rowsB = rowsA;
  for (RowTexts& row : rowsB) row[5] = std::string(127, 'B');
  const std::string a = FormatConfig(rowsA, 10, 1, 0), b = FormatConfig(rowsB, 20, 2, 1);
  ASSERT_TRUE(SaveConfig(path, rowsA, 10, 1, 0).ok);

  std::mt19937 rng(12345);
  int sawA = 0, sawB = 0;
  for (int kill_no = 0; kill_no < 50; ++kill_no) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(ready[0]);
      (void)!write(ready[1], "r", 1);
      for (bool useB = kill_no % 2 == 0;; useB = !useB) {
        if (useB) {
          SaveConfig(path, rowsB, 20, 2, 1);
        } else {
          SaveConfig(path, rowsA, 10, 1, 0);
        }
      }
    }
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    // Picks the moment of the kill; nothing is being waited for.
    usleep(std::uniform_int_distribution<useconds_t>(0, 4000)(rng));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);

    const std::string now = ReadBytes(path);
    ASSERT_TRUE(now == a || now == b) << "kill " << kill_no << ": file of " << now.size() << " bytes is neither";
    (now == a ? sawA : sawB)++;
  }
  RecordProperty("old_or_new", std::to_string(sawA) + "/" + std::to_string(sawB));
}

TEST(SaveFailureReporter, TellsOncePerRunOfFailures) {
  RecordingPrompter prompter;
  SaveFailureReporter reporter(prompter);
  const SaveResult ok{true, {}};
  const SaveResult first{false, "/srv/config.txt: No space left on device"};
  const SaveResult other{false, "/srv/config.txt: Permission denied"};
  for (const SaveResult& r : {first, other, first, ok, ok, other, first, ok, first}) reporter.Report(r);

  ASSERT_EQ(prompter.messages.size(), 3u);
  EXPECT_NE(prompter.messages[0].find(first.error), std::string::npos) << prompter.messages[0];
  EXPECT_NE(prompter.messages[1].find(other.error), std::string::npos) << prompter.messages[1];
  EXPECT_NE(prompter.messages[2].find(first.error), std::string::npos) << prompter.messages[2];
}

}  // namespace

namespace {

// Before a save over a file that was not loaded in full: what is on disk is
// kept under a name of its own, the file itself stays in place until the
// save replaces it, and no earlier copy is ever overwritten.
TEST(KeepBeside, KeepsWhatIsOnDiskUnderANewNameEachTime) {
  TempDir dir;
  const std::string path = dir.File("config.txt");
  const KeepResult none = KeepBeside(path);
  EXPECT_TRUE(none.ok);
  EXPECT_TRUE(none.keptAs.empty()) << "nothing there, nothing to keep";

  WriteBytes(path, "first");
  const KeepResult first = KeepBeside(path);
  ASSERT_TRUE(first.ok) << first.error;
  EXPECT_EQ(first.keptAs.rfind(path + ".bad-", 0), 0u) << first.keptAs;
  EXPECT_EQ(first.keptAs.size(), path.size() + 5 + 15) << "YYYYMMDD-HHMMSS";
  EXPECT_EQ(ReadBytes(first.keptAs), "first");
  EXPECT_EQ(ReadBytes(path), "first");

  ASSERT_TRUE(SaveConfig(path, {}, 10, 0, 0).ok);
  WriteBytes(path, "second");
  const KeepResult second = KeepBeside(path);
  ASSERT_TRUE(second.ok) << second.error;
  EXPECT_NE(second.keptAs, first.keptAs);
  EXPECT_EQ(ReadBytes(second.keptAs), "second");
  EXPECT_EQ(ReadBytes(first.keptAs), "first");
}

// A directory cannot have a second name: it is moved aside instead, so the
// save that follows can put the list in its place.
TEST(KeepBeside, MovesWhatCannotBeLinked) {
  TempDir dir;
  const std::string path = dir.File("config.txt");
  std::filesystem::create_directory(path);
  WriteBytes(path + "/inside", "x");
  const KeepResult kept = KeepBeside(path);
  ASSERT_TRUE(kept.ok) << kept.error;
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(ReadBytes(kept.keptAs + "/inside"), "x");
  EXPECT_TRUE(SaveConfig(path, {}, 10, 0, 0).ok);
}

}  // namespace
