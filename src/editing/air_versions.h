// Which list went on the air under which play-list version, so that a
// published change never lands on a version that receivers already hold
// with a different list.
//
// Receivers (and the monitor) take a list only when its version differs
// from the one they hold. The loop encodes a published table with the
// version as the publisher left it ("pre-step") for one cycle and then
// steps it; so a list goes on the air first under the pre-step version and
// from the next cycle on under NextVersion(pre-step). An edit leaves the
// version as it is: its new list shows for one cycle under the version on
// the air, then under the next one, which is new to every receiver.
//
// A load is where it went wrong: the reader sets the version from the file,
// and a hand edit keeps the file's "@version" line, which holds the version
// from before the last step. The edited list then stepped onto exactly the
// version already on the air with the old list, and receivers kept the old
// one for good. So a load keeps the file's version only when neither the
// pre-step version nor the one after it ever carried a different list
// here (or in the record of the last run); otherwise it goes on from the
// version on the air: unchanged content may go on under that version itself,
// changed content starts at the version after it. Versions then only move
// forward, as with edits, so a receiver that missed a few lists is not left
// holding an old list under a version that comes round again soon. After 32
// steps versions come round anyway; the five bits on the air allow no more.
//
// Runs on the window thread (or the runner's main thread), like the editor
// that owns it; the choice of the version for a load is made while that
// thread holds g_TableGuard, so the loop's step cannot come between.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "storage/air_record.h"

class AirVersions {
 public:
  // Where the last version on the air is kept across restarts; null keeps
  // it in this process only. Must outlive this object.
  void SetStore(AirRecordStore* store) { m_store = store; }

  // At start-up, before the first publish: takes the record of the last
  // run. Returns the version it names: the version on the air, from which
  // this run goes on.
  std::optional<uint8_t> Restore();

  // The version a load of a list with `digest` leaves for the loop's next
  // cycle. `fileVersion` is the file's "version" setting, if it has one;
  // `current` the version as it stands (the one on the air, or about to be).
  uint8_t VersionForLoad(std::optional<uint8_t> fileVersion, uint8_t current, uint64_t digest) const;

  // A list with `digest` was published: the loop's next cycle encodes it
  // with `preStep` and steps to NextVersion(preStep). `current` is the
  // version that stood before the publisher changed it (equal to preStep
  // for an edit or Force Update).
  void Published(uint8_t current, uint8_t preStep, uint64_t digest);

  // Writes the last publish to the store, if it changed since the last
  // write. Never under the guard. ok when there is nothing to write.
  SaveResult Persist();

 private:
  struct Entry {
    bool used = false;
    bool mixed = false;  // carried more than one list (an edit's first cycle)
    uint64_t digest = 0;
  };
  // True when `version` never carried a list other than `digest`.
  bool Clean(uint8_t version, uint64_t digest) const;

  std::array<Entry, 32> m_entries{};
  std::optional<AirRecord> m_last;
  std::optional<AirRecord> m_stored;
  AirRecordStore* m_store = nullptr;
};
