// What the receivers were last given: the play-list version on the air and
// a digest of the list it carried (ProgramListDigest). Kept where it
// survives a restart, so that a list edited while the program was stopped
// never goes on the air under the version receivers hold with the old list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "storage/config_file.h"

struct AirRecord {
  uint8_t version;  // 0..31 once stepped
  uint64_t digest;
  bool operator==(const AirRecord&) const = default;
};

// One line: the version in decimal, a blank, the digest as 16 hex digits,
// LF ("4 0123456789abcdef\n"). Anything else parses as no record.
std::string FormatAirRecord(const AirRecord& record);
std::optional<AirRecord> ParseAirRecord(const std::string& text);

// Where the record lives. Called on the window thread (or the runner's main
// thread) only, never while the table guard is held.
class AirRecordStore {
 public:
  virtual ~AirRecordStore() = default;
  // nullopt when there is none or it cannot be read.
  virtual std::optional<AirRecord> Load() = 0;
  virtual SaveResult Save(const AirRecord& record) = 0;
};

// A file of its own, replaced atomically: the headless runner's state file.
class AirRecordFile : public AirRecordStore {
 public:
  explicit AirRecordFile(std::string path) : m_path(std::move(path)) {}
  std::optional<AirRecord> Load() override;
  SaveResult Save(const AirRecord& record) override;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// The value "onair" beside the interface choice in the per-user store: the
// window's.
class AirRecordInUserStore : public AirRecordStore {
 public:
  AirRecordInUserStore() = default;
  // The store in baseDir instead (tests).
  explicit AirRecordInUserStore(std::string baseDir) : m_base(std::move(baseDir)) {}
  std::optional<AirRecord> Load() override;
  SaveResult Save(const AirRecord& record) override;

 private:
  std::optional<std::string> m_base;
};

inline constexpr const char* AIR_RECORD_VALUE_NAME = "onair";

// The headless runner's state file when none is given: "onair" in the first
// directory of $STATE_DIRECTORY (what a service's StateDirectory= sets),
// else beside the config file as "<config path>.onair". Empty when neither
// can be had.
std::string DefaultAirStatePath(const std::string& configPath);
