#include "storage/registry_value.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

enum class EntryKind { Directory, File };

struct CloseDir {
  void operator()(DIR* d) const { ::closedir(d); }
};

// A key or value name becomes a file name: nothing that could leave the
// store's directory or name a path is accepted.
bool SafeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The key's directory names below the store, or nullopt for a malformed
// path. The leading "Software" is the store itself.
std::optional<std::vector<std::string>> KeyComponents(const char* keyPath) {
  if (keyPath == nullptr) return std::nullopt;
  std::vector<std::string> parts;
  const std::string path(keyPath);
  if (path.empty()) return parts;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find('\\', start);
    std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!SafeName(part)) return std::nullopt;
    parts.push_back(std::move(part));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (strcasecmp(parts.front().c_str(), "Software") == 0) parts.erase(parts.begin());
  return parts;
}

bool IsKind(const std::string& path, EntryKind kind) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return kind == EntryKind::Directory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
}

// The entry of `dir` whose name equals `name` ignoring ASCII case; when
// hand-made copies differ only in case, the byte-wise smallest wins, so
// every spelling finds the same one.
std::optional<std::string> FindEntry(const std::string& dir, const std::string& name, EntryKind kind) {
  const std::unique_ptr<DIR, CloseDir> d(::opendir(dir.c_str()));
  if (d == nullptr) return std::nullopt;
  std::optional<std::string> found;
  while (const dirent* e = ::readdir(d.get())) {
    if (strcasecmp(e->d_name, name.c_str()) != 0) continue;
    if (!IsKind(dir + "/" + e->d_name, kind)) continue;
    if (!found || std::strcmp(e->d_name, found->c_str()) < 0) found = e->d_name;
  }
  return found;
}

// Creates the store's own directory and its missing parents.
bool MakeBase(const std::string& base) {
  if (base.empty() || base.front() != '/') return false;
  for (size_t pos = 1;; ++pos) {
    pos = base.find('/', pos);
    const std::string prefix = base.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (pos == std::string::npos) break;
  }
  return IsKind(base, EntryKind::Directory);
}

bool WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

void SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

CRegistryValue::CRegistryValue() : m_base(RegistryStoreLocation()) {}

CRegistryValue::CRegistryValue(std::string baseDir) : m_base(std::move(baseDir)) {}

CRegistryValue::~CRegistryValue() = default;

int CRegistryValue::ReadString(RegistryRoot, const char* keyPath, const char* valueName, char (&buffer)[256]) {
  m_dwType = REG_SZ_TYPE;
  m_dwSize = REGISTRY_READ_LIMIT;
  const auto parts = KeyComponents(keyPath);
  if (!parts || valueName == nullptr || !SafeName(valueName) || m_base.empty()) return 1;

  std::string dir = m_base;
  for (const std::string& part : *parts) {
    const auto entry = FindEntry(dir, part, EntryKind::Directory);
    if (!entry) return 1;
    dir += "/" + *entry;
  }
  const auto file = FindEntry(dir, valueName, EntryKind::File);
  if (!file) return 1;

  const int fd = ::open((dir + "/" + *file).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 1;
  // One byte more than the limit tells an over-long value from one that fits.
  char data[REGISTRY_READ_LIMIT + 1];
  size_t got = 0;
  bool failed = false;
  while (got < sizeof data) {
    const ssize_t n = ::read(fd, data + got, sizeof data - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed = true;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (failed || got > REGISTRY_READ_LIMIT) return 1;

  std::memcpy(buffer, data, got);
  if (got < sizeof buffer) buffer[got] = '\0';
  m_dwSize = static_cast<uint32_t>(got);
  return 0;
}

bool CRegistryValue::WriteString(RegistryRoot, const char* keyPath, const char* valueName, const std::string& text) {
  m_dwType = REG_SZ_TYPE;
  m_dwSize = REGISTRY_READ_LIMIT;
  if (valueName == nullptr || !SafeName(valueName)) return false;
  const std::optional<std::string> key = KeyDirectory(RegistryRoot::CurrentUser, keyPath);
  if (!key) return false;
  const std::string& dir = *key;
  const std::string name = FindEntry(dir, valueName, EntryKind::File).value_or(valueName);

  std::string temp = dir + "/." + name + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), (dir + "/" + name).c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  SyncDirectory(dir);
  return true;
}

std::optional<std::string> CRegistryValue::KeyDirectory(RegistryRoot, const char* keyPath) {
  const auto parts = KeyComponents(keyPath);
  if (!parts || !MakeBase(m_base)) return std::nullopt;
  std::string dir = m_base;
  for (const std::string& part : *parts) {
    auto entry = FindEntry(dir, part, EntryKind::Directory);
    if (!entry) {
      if (::mkdir((dir + "/" + part).c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
      entry = FindEntry(dir, part, EntryKind::Directory);  // another writer may have won the race
      if (!entry) return std::nullopt;
    }
    dir += "/" + *entry;
  }
  return dir;
}

std::string RegistryStoreLocation() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config";
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/')
    return std::string(pw->pw_dir) + "/.config";
  return {};
}
