#include "editing/air_versions.h"

#include "broadcast/broadcast_loop.h"

namespace {

// Only the low five bits go on the air.
size_t Slot(uint8_t version) { return version & 0x1F; }

}  // namespace

std::optional<uint8_t> AirVersions::Restore() {
  if (m_store == nullptr) return std::nullopt;
  const std::optional<AirRecord> record = m_store->Load();
  if (!record) return std::nullopt;
  m_entries[Slot(record->version)] = {true, false, record->digest};
  m_last = m_stored = record;
  return record->version;
}

bool AirVersions::Clean(uint8_t version, uint64_t digest) const {
  const Entry& e = m_entries[Slot(version)];
  return !e.used || (!e.mixed && e.digest == digest);
}

uint8_t AirVersions::VersionForLoad(std::optional<uint8_t> fileVersion, uint8_t current, uint64_t digest) const {
  // The file's version, as the reader always gave it, where that is safe.
  const uint8_t asRead = fileVersion.value_or(current);
  if (Clean(asRead, digest) && Clean(NextVersion(asRead), digest)) return asRead;
  // The list on the air again (or nothing known of this version): its first
  // cycle shows it under the version it already has.
  if (Clean(current, digest)) return current;
  // A different list: already its first cycle goes out under a new version.
  return NextVersion(current);
}

void AirVersions::Published(uint8_t current, uint8_t preStep, uint64_t digest) {
  Entry& first = m_entries[Slot(preStep)];
  if (Slot(preStep) != Slot(current) || !first.used) {
    first = {true, false, digest};  // a version this run moved to: it carries this list from now on
  } else if (first.digest != digest) {
    first.mixed = true;  // the version on the air shows the new list for one cycle
  }
  const uint8_t next = NextVersion(preStep);
  m_entries[Slot(next)] = {true, false, digest};
  m_last = AirRecord{next, digest};
}

SaveResult AirVersions::Persist() {
  if (m_store == nullptr || !m_last || m_last == m_stored) return {true, {}};
  SaveResult result = m_store->Save(*m_last);
  if (result.ok) m_stored = m_last;
  return result;
}
