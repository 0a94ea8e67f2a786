// The per-user store on a temporary directory: round trips, absence, the
// registry's case rules, the 256-byte read limit, atomic replacement and
// names that must not leave the store.
#include "storage/registry_value.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr const char* KEY = "Software\\Kestavin\\IPTV";

class RegistryValueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/iptv-registry-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
  }
  void TearDown() override { fs::remove_all(m_dir); }

  static std::string FileText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::set<std::string> Entries(const fs::path& dir) const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
  }
  // Reads through a fresh object, as every caller does.
  int Read(const char* key, const char* value, std::string& out) {
    CRegistryValue reg(m_dir);
    char buf[256];
    std::memset(buf, '#', sizeof buf);
    const int r = reg.ReadString(RegistryRoot::CurrentUser, key, value, buf);
    out.assign(buf, strnlen(buf, sizeof buf));
    return r;
  }
  bool Write(const char* key, const char* value, const std::string& text) {
    CRegistryValue reg(m_dir);
    return reg.WriteString(RegistryRoot::CurrentUser, key, value, text);
  }

  std::string m_dir;
};

TEST_F(RegistryValueTest, RoundTripStoresTheBareTextUnderTheKeyDirectories) {
  std::string got;
  EXPECT_EQ(Read(KEY, "eth", got), 1) << "nothing stored yet";

  ASSERT_TRUE(Write(KEY, "eth", "192.168.1.10"));
  EXPECT_EQ(FileText(fs::path(m_dir) / "Kestavin" / "IPTV" / "eth"), "192.168.1.10") << "no terminator, no newline";
  ASSERT_EQ(Read(KEY, "eth", got), 0);
  EXPECT_EQ(got, "192.168.1.10");

  // A shorter text replaces the whole value by a new file renamed over the
  // old one (a new inode: never rewritten in place), and no temporary file
  // is left behind.
  const std::string file = m_dir + "/Kestavin/IPTV/eth";
  struct stat before {
  }, after{};
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  ASSERT_TRUE(Write(KEY, "eth", "Default"));
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  ASSERT_EQ(Read(KEY, "eth", got), 0);
  EXPECT_EQ(got, "Default");
  EXPECT_EQ(Entries(fs::path(m_dir) / "Kestavin" / "IPTV"), std::set<std::string>{"eth"});
}

TEST_F(RegistryValueTest, MissingKeyOrValueReadsAbsentAndLeavesTheBufferAlone) {
  ASSERT_TRUE(Write(KEY, "eth", "10.0.0.1"));
  CRegistryValue reg(m_dir);
  for (const auto& [key, value] :
       {std::pair{"Software\\Kestavin\\Other", "eth"}, std::pair{KEY, "other"}, std::pair{"Software\\Nobody", "eth"}}) {
    char buf[256] = "untouched";
    EXPECT_EQ(reg.ReadString(RegistryRoot::CurrentUser, key, value, buf), 1) << key << " / " << value;
    EXPECT_STREQ(buf, "untouched");
  }
  // A store whose directory does not exist at all.
  CRegistryValue nowhere(m_dir + "/missing/store");
  char buf[256];
  EXPECT_EQ(nowhere.ReadString(RegistryRoot::CurrentUser, KEY, "eth", buf), 1);
}

TEST_F(RegistryValueTest, KeyAndValueNamesCompareWithoutCase) {
  // The first write creates the chain with its own spelling; every other
  // spelling finds the same key and value, and no second chain appears.
  ASSERT_TRUE(Write("software\\Kestavin\\IPTV", "eth", "10.1.2.3"));
  std::string got;
  for (const char* key : {"Software\\Kestavin\\IPTV", "SOFTWARE\\KESTAVIN\\iptv", "software\\kestavin\\Iptv"}) {
    ASSERT_EQ(Read(key, "ETH", got), 0) << key;
    EXPECT_EQ(got, "10.1.2.3");
  }
  ASSERT_TRUE(Write("Software\\KESTAVIN\\iptv", "Eth", "Default"));
  EXPECT_EQ(Entries(m_dir), std::set<std::string>{"Kestavin"});
  EXPECT_EQ(Entries(fs::path(m_dir) / "Kestavin"), std::set<std::string>{"IPTV"});
  EXPECT_EQ(Entries(fs::path(m_dir) / "Kestavin" / "IPTV"), std::set<std::string>{"eth"});
  ASSERT_EQ(Read(KEY, "eth", got), 0);
  EXPECT_EQ(got, "Default");
}

TEST_F(RegistryValueTest, ReadsAtMost256Bytes) {
  struct Case {
    size_t length;
    int result;
  };
  for (const Case c : {Case{0, 0}, Case{255, 0}, Case{256, 0}, Case{257, 1}, Case{4096, 1}}) {
    SCOPED_TRACE(c.length);
    const std::string text(c.length, 'x');
    ASSERT_TRUE(Write(KEY, "eth", text));
    CRegistryValue reg(m_dir);
    char buf[256];
    std::memset(buf, '#', sizeof buf);
    ASSERT_EQ(reg.ReadString(RegistryRoot::CurrentUser, KEY, "eth", buf), c.result);
    if (c.result != 0) continue;
    EXPECT_EQ(reg.m_dwSize, c.length);
    EXPECT_EQ(std::string(buf, c.length), text);
    if (c.length < sizeof buf) {
      EXPECT_EQ(buf[c.length], '\0');
    }
  }
}

TEST_F(RegistryValueTest, FailedReplacementKeepsTheOldValueAndLeavesNoLitter) {
  ASSERT_TRUE(Write(KEY, "eth", "10.0.0.1"));
  // A directory where the new value's file would go makes the rename fail.
  const fs::path keyDir = fs::path(m_dir) / "Kestavin" / "IPTV";
  fs::create_directory(keyDir / "blocked");
  EXPECT_FALSE(Write(KEY, "blocked", "Default"));
  EXPECT_EQ(Entries(keyDir), (std::set<std::string>{"blocked", "eth"}));
  std::string got;
  ASSERT_EQ(Read(KEY, "eth", got), 0);
  EXPECT_EQ(got, "10.0.0.1");
  // A file where a key directory should be: the chain cannot be built.
  EXPECT_FALSE(Write("Software\\Kestavin\\IPTV\\eth\\deeper", "eth", "x"));
}

TEST_F(RegistryValueTest, NamesThatWouldLeaveTheStoreAreRefused) {
  struct Case {
    const char* key;
    const char* value;
  };
  for (const Case c :
       {Case{"Software\\..\\..", "eth"}, Case{"Software\\Kestavin\\.", "eth"}, Case{"Software\\Kestavin/IPTV", "eth"},
        Case{"Software\\\\IPTV", "eth"}, Case{"Software\\Kestavin\\", "eth"}, Case{KEY, "../eth"}, Case{KEY, ".."},
        Case{KEY, ""}, Case{nullptr, "eth"}, Case{KEY, nullptr}}) {
    SCOPED_TRACE(std::string(c.key ? c.key : "(null)") + " / " + (c.value ? c.value : "(null)"));
    EXPECT_FALSE(Write(c.key, c.value, "x"));
    CRegistryValue reg(m_dir);
    char buf[256];
    EXPECT_EQ(reg.ReadString(RegistryRoot::CurrentUser, c.key, c.value, buf), 1);
  }
  EXPECT_TRUE(Entries(m_dir).empty());
}

TEST_F(RegistryValueTest, StoreLocationFollowsXdgConfigHomeThenHome) {
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  const char* oldHome = std::getenv("HOME");
  const std::string savedXdg = oldXdg ? oldXdg : "", savedHome = oldHome ? oldHome : "";

  setenv("XDG_CONFIG_HOME", (m_dir + "/xdg").c_str(), 1);
  EXPECT_EQ(RegistryStoreLocation(), m_dir + "/xdg");
  {
    CRegistryValue reg;  // creates the missing store directory on first write
    EXPECT_TRUE(reg.WriteString(RegistryRoot::CurrentUser, KEY, "eth", "Default"));
  }
  EXPECT_EQ(FileText(fs::path(m_dir) / "xdg" / "Kestavin" / "IPTV" / "eth"), "Default");

  // A relative XDG_CONFIG_HOME is ignored, as the base-directory rules say.
  setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  setenv("HOME", m_dir.c_str(), 1);
  EXPECT_EQ(RegistryStoreLocation(), m_dir + "/.config");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(RegistryStoreLocation(), m_dir + "/.config");

  if (oldXdg) setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
  if (oldHome)
    setenv("HOME", savedHome.c_str(), 1);
  else
    unsetenv("HOME");
}

}  // namespace
