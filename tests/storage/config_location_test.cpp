// Where the window keeps its list: --config, beside a writable executable,
// else in the per-user store beside the stored interface.
#include "storage/config_location.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool Writable(const std::string&) { return true; }
bool ReadOnly(const std::string&) { return false; }

struct Store {
  fs::path base = fs::temp_directory_path() / ("iptv-location-" + std::to_string(getpid()));
  Store() { fs::remove_all(base); }
  ~Store() { fs::remove_all(base); }
};

TEST(WindowConfigPath, FollowsTheOrderOfThePlaces) {
  Store store;
  const std::string beside = "/usr/bin/config.txt";
  const std::string inStore = (store.base / "Kestavin/IPTV/config.txt").string();
  struct Case {
    const char* what;
    std::string given, beside, storeBase;
    bool (*writable)(const std::string&);
    std::string expected;
  };
  const Case cases[] = {
      {"--config wins over everything", "/srv/list.txt", beside, store.base.string(), ReadOnly, "/srv/list.txt"},
      {"a writable executable folder keeps the classic place", "", "/home/op/iptv/config.txt", store.base.string(),
       Writable, "/home/op/iptv/config.txt"},
      {"an installed executable's folder, even when root may write it", "", beside, store.base.string(), Writable,
       inStore},
      {"nor /usr/local/bin", "", "/usr/local/bin/config.txt", store.base.string(), Writable, inStore},
      {"an installed executable's folder is not writable", "", beside, store.base.string(), ReadOnly, inStore},
      {"no per-user store: beside the executable after all", "", beside, "", ReadOnly, beside},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WindowConfigPath(c.given, c.beside, c.storeBase, c.writable), c.expected) << c.what;
  // The store's folder was made, so the first save finds it.
  EXPECT_TRUE(fs::is_directory(store.base / "Kestavin/IPTV"));
}

TEST(WindowConfigPath, KeepsTheStoresExistingSpellingAndRealFoldersAreTested) {
  Store store;
  fs::create_directories(store.base / "kestavin/iptv");  // as the interface was stored by hand
  EXPECT_EQ(WindowConfigPath("", "/usr/bin/config.txt", store.base.string(), ReadOnly),
            (store.base / "kestavin/iptv/config.txt").string());
  EXPECT_FALSE(fs::exists(store.base / "Kestavin"));
  EXPECT_TRUE(FolderWritable(store.base.string()));
  EXPECT_FALSE(FolderWritable((store.base / "missing").string()));
}

}  // namespace
