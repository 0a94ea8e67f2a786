#include "storage/config_file.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "text/string_printf.h"

namespace {

constexpr char kHeader[] = "IPTV multicast IP List";
constexpr size_t kHeaderLen = sizeof kHeader - 1;
// Line limits of the reader: a longer line is read in pieces of at most
// this size, and each piece is handled as a line of its own.
constexpr size_t kHeaderLineLimit = 255;
constexpr size_t kLineLimit = 511;

constexpr unsigned kFieldNumber = 0x01, kFieldName = 0x02, kFieldMcast = 0x04, kFieldPort = 0x08, kFieldNote = 0x10,
                   kFieldGroup = 0x20, kFieldHD = 0x40;
constexpr unsigned kRequiredFields = 0x3F;

// Reads up to `limit` bytes, stopping after a LF. False when nothing could
// be read. The piece is then taken as a C string: a NUL ends its text.
// `endsLine` tells whether the piece ended with the line's LF, so that the
// caller can count the file's lines whatever their length.
bool ReadPiece(std::istream& in, size_t limit, std::string& piece, bool& endsLine) {
  piece.clear();
  endsLine = false;
  std::streambuf* buf = in.rdbuf();
  while (piece.size() < limit) {
    const int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) break;
    piece.push_back(static_cast<char>(c));
    if (c == '\n') {
      endsLine = true;
      break;
    }
  }
  if (piece.empty()) return false;
  if (size_t nul = piece.find('\0'); nul != std::string::npos) piece.resize(nul);
  return true;
}

enum class LineResult { Stored, BadAddress, Incomplete };

// Reads pieces and keeps the number of the line each one belongs to.
class LineReader {
 public:
  explicit LineReader(std::istream& in) : m_in(in) {}
  bool Next(size_t limit, std::string& piece) {
    bool endsLine = false;
    if (!ReadPiece(m_in, limit, piece, endsLine)) return false;
    m_line = m_next;
    if (endsLine) ++m_next;
    return true;
  }
  int Line() const { return m_line; }

 private:
  std::istream& m_in;
  int m_line = 0;
  int m_next = 1;
};

bool IsProgramLine(const std::string& piece) { return piece.size() > 6 && piece.compare(0, 7, "@mcast:") == 0; }
bool IsEndLine(const std::string& piece) {
  return !piece.empty() && piece[0] == '@' && piece.compare(1, 3, "end") == 0;
}

// The program lines the reader never got to: everything up to the end line.
int CountProgramLines(LineReader& lines, size_t limit) {
  int count = 0;
  std::string piece;
  while (lines.Next(limit, piece)) {
    if (IsEndLine(piece)) break;
    count += IsProgramLine(piece);
  }
  return count;
}

// One "@mcast:" value into `e` (already zeroed). Sets `cut` when a name or
// remark had to be shortened. True when the program is complete; otherwise
// `stop` holds the message that ends the load.
bool ReadProgram(std::string_view rest, ProgramEntry& e, bool& cut, std::string& stop) {
  unsigned mask = 0;
  for (int field = 1; field <= 7; ++field) {
    size_t end = rest.find(':');
    if (end == std::string_view::npos && field >= 5) end = rest.find('#');
    if (end == std::string_view::npos) continue;  // missing: later fields search the same text
    const std::string text(rest.substr(0, end));
    rest.remove_prefix(end + 1);
    switch (field) {
      case 1:
        e.nNumber = SaturatingAtoi(text.c_str());
        mask |= kFieldNumber;
        break;
      case 2:
        cut |= !CopyField(e.szName, text);
        mask |= kFieldName;
        break;
      case 3:
        // Only the text is stored; the conversion just vets it. All-ones is
        // the conversion's error value, so 255.255.255.255 is refused too.
        if (text.size() >= sizeof e.szMulticast || inet_addr(text.c_str()) == INADDR_NONE) {
          stop = "错误的IP地址";
          return false;
        }
        CopyField(e.szMulticast, text);
        mask |= kFieldMcast;
        break;
      case 4:
        e.nPort = SaturatingAtoi(text.c_str());
        mask |= kFieldPort;
        break;
      case 5:
        cut |= !CopyField(e.szNote, text);
        mask |= kFieldNote;
        break;
      case 6:
        e.nGroup = SaturatingAtoi(text.c_str());
        mask |= kFieldGroup;
        break;
      case 7:
        e.bHD = static_cast<uint8_t>(SaturatingAtoi(text.c_str()));
        mask |= kFieldHD;
        break;
    }
  }
  if ((mask & kRequiredFields) == kRequiredFields) return true;

  char head[192];
  std::snprintf(head, sizeof head, "参数不完整(%X),正确的格式:@mcast:1:name:multicast:port:note:group_ID#,缺参数",
                mask);
  std::string msg = head;
  static constexpr struct {
    unsigned bit;
    const char* name;
  } kNamed[] = {{kFieldNumber, "number"},
                {kFieldName, "name"},
                {kFieldMcast, "mcast"},
                {kFieldPort, "port"},
                {kFieldNote, "note"}};
  for (const auto& f : kNamed) {
    if (!(mask & f.bit)) msg += StringPrintf("'%s',", f.name);
  }
  stop = std::move(msg);
  return false;
}

// What follows a message that stops the load: where, and what it cost.
std::string StopNote(const std::string& path, int line, int notLoaded) {
  return "\n" + path + ", line " + std::to_string(line) + ": the load stopped here; " + std::to_string(notLoaded) +
         " program line(s) not loaded.";
}

}  // namespace

LoadedConfig LoadConfigFrom(std::istream& in, const std::string& path, Prompter& messages) {
  LoadedConfig out;
  out.opened = true;
  out.status = LoadStatus::Complete;
  LineReader lines(in);
  std::string line;

  // Ends the load at the current line with `text`, the reader's own message,
  // which stays first and whole.
  auto stopHere = [&](const std::string& text, int notLoadedHere) {
    out.status = LoadStatus::Stopped;
    out.stoppedAtLine = lines.Line() > 0 ? lines.Line() : 1;
    out.programLinesNotLoaded += notLoadedHere + CountProgramLines(lines, kLineLimit);
    messages.ShowMessage(text + StopNote(path, out.stoppedAtLine, out.programLinesNotLoaded));
  };

  if (!lines.Next(kHeaderLineLimit, line)) {
    stopHere(StringPrintf("错误的配置文件:%s,%s;", path.c_str(), ""), 0);
    return out;
  }
  // The header's own CR LF is dropped before the compare, so a header
  // ending in a bare LF is one character short and refused.
  if (line.size() < 2 || line.size() - 2 < kHeaderLen || line.compare(0, kHeaderLen, kHeader) != 0) {
    stopHere("错误的配置文件!", 0);
    return out;
  }

  int skippedPrograms = 0;
  while (lines.Next(kLineLimit, line)) {
    if (line.empty() || line[0] != '@') continue;
    if (line.compare(1, 3, "end") == 0) break;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = line.substr(1, colon - 1);
    const std::string_view value = std::string_view(line).substr(colon + 1);

    if (key == "freq" || key == "version" || key == "index") {
      const int32_t v = SaturatingAtoi(std::string(value.substr(0, value.find('#'))).c_str());
      if (key == "freq") {
        out.freq = static_cast<uint32_t>(v);
      } else if (key == "version") {
        out.version = static_cast<uint8_t>(v);
      } else {
        out.orderByNumber = v != 0 ? 1 : 0;
      }
    } else if (key == "mcast") {
      if (out.programs.size() >= static_cast<size_t>(MAX_PROGRAMS)) {
        ++skippedPrograms;
        continue;
      }
      ProgramEntry e{};
      bool cut = false;
      std::string stop;
      if (!ReadProgram(value, e, cut, stop)) {
        stopHere(stop, 1);
        break;
      }
      out.programs.push_back(e);
      out.cutPrograms += cut;
    } else {
      ++out.unknownLines;
      messages.ShowMessage(StringPrintf("未知格式:%s", key.c_str()));
    }
  }

  out.programLinesNotLoaded += skippedPrograms;
  if (skippedPrograms > 0) {
    messages.ShowMessage(
        StringPrintf("%s: %d program line(s) after the 300th were not loaded; the list holds at most 300.",
                     path.c_str(), skippedPrograms));
  }
  if (out.cutPrograms > 0) {
    messages.ShowMessage(
        StringPrintf("%s: %d program(s) had a name or remark longer than 127 bytes; it was cut to fit.", path.c_str(),
                     out.cutPrograms));
  }
  return out;
}

namespace {

// config.txt is a few hundred kilobytes at most; anything far larger is not
// a program list, and reading it whole would only cost memory.
constexpr off_t kMaxConfigBytes = 64 << 20;

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

}  // namespace

LoadedConfig LoadConfig(const std::string& path, Prompter& messages) {
  LoadedConfig out;
  auto unreadable = [&](const std::string& reason) {
    out.status = LoadStatus::Unreadable;
    out.problem = path + ": cannot be read: " + reason;
    messages.ShowMessage(out.problem);
    return out;
  };
  auto notRegular = [&](mode_t mode) {
    return unreadable(std::string("it is ") + KindOf(mode) + ", not a regular file");
  };

  // Looked at before it is opened, so that no device is ever opened; the
  // open itself never waits (a FIFO without a writer would block it), and
  // what was opened is checked again in case the path changed meanwhile.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) {
      out.problem = path + ": cannot be read: " + std::strerror(err);
      return out;
    }
    return unreadable(std::strerror(err));
  }
  if (!S_ISREG(st.st_mode)) return notRegular(st.st_mode);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) {
      out.problem = path + ": cannot be read: " + std::strerror(err);
      return out;
    }
    return unreadable(std::strerror(err));
  }
  std::string bytes;
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return notRegular(st.st_mode);
  } else if (st.st_size > kMaxConfigBytes) {
    ::close(fd);
    return unreadable("it is larger than " + std::to_string(kMaxConfigBytes >> 20) + " MiB");
  } else {
    bytes.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;  // a signal's handler has run; go on reading
      if (n < 0) err = errno;
      if (n <= 0) break;
      bytes.append(buf, static_cast<size_t>(n));
      if (bytes.size() > static_cast<size_t>(kMaxConfigBytes)) {
        ::close(fd);
        return unreadable("it is larger than " + std::to_string(kMaxConfigBytes >> 20) + " MiB");
      }
    }
  }
  ::close(fd);
  if (err != 0) return unreadable(std::strerror(err));
  std::istringstream in(std::move(bytes));
  return LoadConfigFrom(in, path, messages);
}

std::string FormatConfig(const std::vector<RowTexts>& rows, uint32_t sendRate, uint8_t version, int32_t orderByNumber) {
  std::string out;
  out.reserve(64 + rows.size() * 96);
  char buf[64];
  out += kHeader;
  out += "\r\n";
  std::snprintf(buf, sizeof buf, "@freq:%d#\r\n", static_cast<int32_t>(sendRate));
  out += buf;
  std::snprintf(buf, sizeof buf, "@version:%d#\r\n", static_cast<int>(version));
  out += buf;
  std::snprintf(buf, sizeof buf, "@index:%d#\r\n", orderByNumber != 0 ? 1 : 0);
  out += buf;
  // Texts go in as "%s" would take them (up to a NUL), and whole: a line is
  // never cut to a buffer size.
  auto text = [](const std::string& s) { return std::string_view(s.c_str()); };
  auto number = [](const std::string& s) { return std::to_string(SaturatingAtoi(s.c_str())); };
  for (const RowTexts& row : rows) {
    out += "@mcast:";
    out += number(row[1]);
    out += ':';
    out += text(row[2]);
    out += ':';
    out += text(row[3]);
    out += ':';
    out += number(row[4]);
    out += ':';
    out += text(row[5]);
    out += ':';
    out += number(row[6]);
    out += ':';
    out += number(row[7]);
    out += "#\r\n";
  }
  out += "@end#\r\n";
  return out;
}

namespace {

std::string Reason(const std::string& path, int err) { return path + ": " + std::strerror(err); }

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

SaveResult SaveConfig(const std::string& path, const std::vector<RowTexts>& rows, uint32_t sendRate, uint8_t version,
                      int32_t orderByNumber) {
  return ReplaceFile(path, FormatConfig(rows, sendRate, version, orderByNumber));
}

SaveResult ReplaceFile(const std::string& path, const std::string& data) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));

  // Our own unique name instead of mkstemp, so that the new file is created
  // with 0666 minus the umask like any ordinary file.
  static std::atomic<unsigned> serial{0};
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(serial++);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return {false, Reason(path, errno)};

  struct stat old {};
  bool ok = true;
  if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ok = fchmod(fd, old.st_mode & 07777) == 0;
  ok = ok && WriteAll(fd, data) && fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    return {false, Reason(path, err)};
  }
  // The rename is durable only once the directory itself is on disk. The
  // file is already in place, so a failure here is not a failed save.
  if (int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
    fsync(dfd);
    ::close(dfd);
  }
  return {true, {}};
}

KeepResult KeepBeside(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {true, {}, {}};
    return {false, {}, Reason(path, errno)};
  }
  char stamp[32];
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = path + ".bad-" + stamp;
  for (int n = 1; n <= 100; ++n) {
    const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
    // A second name keeps the file in place until the save replaces it, so
    // a crash between the two never leaves the path empty.
    if (::link(path.c_str(), name.c_str()) == 0) return {true, name, {}};
    if (errno == EEXIST) continue;
    if (errno == ENOENT) return {true, {}, {}};
    // No second name here (a directory, a file system without hard links,
    // a file not ours to link): move it instead, never over another file.
    struct stat taken {};
    if (::lstat(name.c_str(), &taken) == 0) continue;
    if (::rename(path.c_str(), name.c_str()) == 0) return {true, name, {}};
    return {false, {}, Reason(path, errno)};
  }
  return {false, {}, path + ": no free name for a copy beside it"};
}

void SaveFailureReporter::Report(const SaveResult& result) {
  if (result.ok) {
    m_failing = false;
    return;
  }
  if (m_failing) return;
  m_failing = true;
  m_prompter.ShowMessage("The program list could not be saved (" + result.error +
                             "). Changes stay in the list and on the air; saving is tried again with the next change.",
                         MessageIcon::Exclamation);
}

std::string ConfigPathBesideExecutable() {
  std::string buf(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      break;
    }
    buf.resize(buf.size() * 2);  // may have been cut: try again with more room
  }
  const size_t slash = buf.rfind('/');
  if (slash == std::string::npos) return {};
  return buf.substr(0, slash + 1) + "config.txt";
}
