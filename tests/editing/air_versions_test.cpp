// The version a load leaves for the loop, given what went on the air under
// which version before: the file's version where that is safe, else onwards
// from the version on the air.
#include "editing/air_versions.h"

#include <gtest/gtest.h>

#include <vector>

#include "broadcast/broadcast_loop.h"

namespace {

constexpr uint64_t A = 0xA, B = 0xB, C = 0xC;

struct Publish {
  uint8_t current, preStep;
  uint64_t digest;
};

class MemoryStore : public AirRecordStore {
 public:
  std::optional<AirRecord> Load() override { return record; }
  SaveResult Save(const AirRecord& r) override {
    record = r;
    ++saves;
    return {true, {}};
  }
  std::optional<AirRecord> record;
  int saves = 0;
};

TEST(AirVersions, ALoadNeverLandsOnAVersionThatCarriedAnotherList) {
  // A start-up load of A with the file's version 3: 3 for one cycle, then 4.
  const Publish startA{0, 3, A};
  const struct {
    const char* what;
    std::optional<AirRecord> lastRun;
    std::vector<Publish> before;
    std::optional<uint8_t> fileVersion;
    uint8_t current;
    uint64_t digest;
    uint8_t want;
  } cases[] = {
      {"nothing known: the file's version", {}, {}, 3, 0, A, 3},
      {"nothing known: a file version above 31 as read", {}, {}, 40, 0, A, 40},
      {"the same list again: the file's version", {}, {startA}, 3, 4, A, 3},
      {"a hand edit that kept @version: onwards from the air", {}, {startA}, 3, 4, B, 5},
      {"a new file version that carried nothing", {}, {startA}, 7, 4, B, 7},
      {"no version line, same list: the version on the air", {}, {startA}, {}, 4, A, 4},
      {"no version line, another list: the next one", {}, {startA}, {}, 4, B, 5},
      {"onwards wraps after 31", {}, {{0, 31, A}}, 31, 0, B, 1},
      // An edit shows its list for one cycle under the version on the air,
      // which then carried two lists and is never taken again.
      {"after an edit, neither of its versions for another list", {}, {startA, {4, 4, B}}, 4, 5, C, 6},
      {"after an edit, its list again under the version it stepped to", {}, {startA, {4, 4, B}}, 4, 5, B, 5},
      // Across a restart: the record says A went on the air under 4.
      {"restart, hand edit that kept @version", AirRecord{4, A}, {}, 3, 4, B, 5},
      {"restart, unchanged file", AirRecord{4, A}, {}, 3, 4, A, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryStore store;
    store.record = c.lastRun;
    AirVersions air;
    air.SetStore(&store);
    EXPECT_EQ(air.Restore(), c.lastRun ? std::optional<uint8_t>(c.lastRun->version) : std::nullopt);
    for (const Publish& p : c.before) air.Published(p.current, p.preStep, p.digest);
    EXPECT_EQ(air.VersionForLoad(c.fileVersion, c.current, c.digest), c.want);
  }
}

// A storm of loads, each of a new list with the same file version: every
// list that reaches the air gets versions of its own, and the record
// follows the last one. Every other load comes before the loop's next
// cycle, so its list never reaches the air.
TEST(AirVersions, AStormOfLoadsNeverSharesAVersion) {
  MemoryStore store;
  AirVersions air;
  air.SetStore(&store);
  air.Restore();
  std::vector<int> owner(32, -1);
  uint8_t current = 0;
  for (int list = 0; list < 12; ++list) {
    const uint8_t preStep = air.VersionForLoad(uint8_t{3}, current, 100 + list);
    air.Published(current, preStep, 100 + list);
    const bool aired = list % 2 == 1;
    for (uint8_t v : {preStep, NextVersion(preStep)}) {
      if (!aired) break;
      EXPECT_TRUE(owner[v & 31] == -1 || owner[v & 31] == list)
          << "version " << int{v} << " lists " << owner[v & 31] << " and " << list;
      owner[v & 31] = list;
    }
    current = aired ? NextVersion(preStep) : preStep;
    ASSERT_TRUE(air.Persist().ok);
  }
  EXPECT_EQ(store.record->digest, 111u);
  EXPECT_EQ(store.saves, 12);
}

}  // namespace
