// The record of the version last on the air: its one-line form, the state
// file and the per-user store it lives in.
#include "storage/air_record.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "config_test_support.h"

namespace {

TEST(AirRecord, OneLineThatReadsBackAndNothingElseReads) {
  const AirRecord r{31, 0x0123456789ABCDEFull};
  EXPECT_EQ(FormatAirRecord(r), "31 0123456789abcdef\n");
  EXPECT_EQ(ParseAirRecord(FormatAirRecord(r)), r);
  EXPECT_EQ(ParseAirRecord("4 00000000000000ff"), (AirRecord{4, 0xFF}));
  for (const char* bad : {"", "4", "4 123", "256 0123456789abcdef\n", "4 0123456789abcdef0\n", "x 0123456789abcdef\n",
                          "4 0123456789abcdef\ntrailing"})
    EXPECT_FALSE(ParseAirRecord(bad)) << bad;
}

TEST(AirRecord, StateFileAndUserStoreKeepIt) {
  TempDir dir;
  AirRecordFile file(dir.File("state/onair"));
  EXPECT_FALSE(file.Load());
  EXPECT_FALSE(file.Save({7, 42}).ok) << "its directory does not exist";
  std::filesystem::create_directory(dir.path / "state");
  ASSERT_TRUE(file.Save({7, 42}).ok);
  EXPECT_EQ(file.Load(), (AirRecord{7, 42}));
  EXPECT_EQ(ReadBytes(dir.File("state/onair")), "7 000000000000002a\n");

  AirRecordInUserStore store(dir.File("user"));
  EXPECT_FALSE(store.Load());
  ASSERT_TRUE(store.Save({9, 1}).ok);
  EXPECT_EQ(store.Load(), (AirRecord{9, 1}));
  EXPECT_EQ(ReadBytes(dir.File("user/Kestavin/IPTV/onair")), "9 0000000000000001\n");
}

TEST(AirRecord, TheRunnersStateFileFollowsStateDirectoryElseTheConfig) {
  unsetenv("STATE_DIRECTORY");
  EXPECT_EQ(DefaultAirStatePath("/srv/iptv/config.txt"), "/srv/iptv/config.txt.onair");
  EXPECT_EQ(DefaultAirStatePath(""), "");
  setenv("STATE_DIRECTORY", "/var/lib/iptv:/var/lib/other", 1);
  EXPECT_EQ(DefaultAirStatePath("/srv/iptv/config.txt"), "/var/lib/iptv/onair");
  unsetenv("STATE_DIRECTORY");
}

}  // namespace
