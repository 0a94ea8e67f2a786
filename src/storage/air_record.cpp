#include "storage/air_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "storage/interface_choice.h"
#include "storage/registry_value.h"

std::string FormatAirRecord(const AirRecord& record) {
  char text[48];
  std::snprintf(text, sizeof text, "%u %016" PRIx64 "\n", static_cast<unsigned>(record.version), record.digest);
  return text;
}

std::optional<AirRecord> ParseAirRecord(const std::string& text) {
  unsigned version = 0;
  char digest[17] = {};
  int used = 0;
  if (std::sscanf(text.c_str(), "%3u %16[0-9a-f]%n", &version, digest, &used) != 2) return std::nullopt;
  if (version > 255 || std::strlen(digest) != 16) return std::nullopt;
  const std::string rest = text.substr(static_cast<size_t>(used));
  if (rest != "\n" && !rest.empty()) return std::nullopt;
  return AirRecord{static_cast<uint8_t>(version), std::strtoull(digest, nullptr, 16)};
}

std::optional<AirRecord> AirRecordFile::Load() {
  if (m_path.empty()) return std::nullopt;
  const int fd = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buf[64];
  size_t got = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buf + got, sizeof buf - 1 - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
    if (got == sizeof buf - 1) break;
  }
  ::close(fd);
  return ParseAirRecord(std::string(buf, got));
}

SaveResult AirRecordFile::Save(const AirRecord& record) {
  if (m_path.empty()) return {false, "no state file"};
  return ReplaceFile(m_path, FormatAirRecord(record));
}

std::optional<AirRecord> AirRecordInUserStore::Load() {
  CRegistryValue store = m_base ? CRegistryValue(*m_base) : CRegistryValue();
  char buffer[256] = {};
  if (store.ReadString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, AIR_RECORD_VALUE_NAME, buffer) != 0)
    return std::nullopt;
  return ParseAirRecord(std::string(buffer, strnlen(buffer, sizeof buffer)));
}

SaveResult AirRecordInUserStore::Save(const AirRecord& record) {
  CRegistryValue store = m_base ? CRegistryValue(*m_base) : CRegistryValue();
  if (store.WriteString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, AIR_RECORD_VALUE_NAME, FormatAirRecord(record)))
    return {true, {}};
  return {false, "the per-user store could not be written"};
}

std::string DefaultAirStatePath(const std::string& configPath) {
  if (const char* dirs = std::getenv("STATE_DIRECTORY"); dirs != nullptr && dirs[0] != '\0') {
    const std::string first(dirs, strcspn(dirs, ":"));
    if (!first.empty()) return first + "/" + AIR_RECORD_VALUE_NAME;
  }
  if (configPath.empty()) return {};
  return configPath + "." + AIR_RECORD_VALUE_NAME;
}
