// The start-up choice of send interface from the stored text, and storing a
// new choice.
#include "storage/interface_choice.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

uint32_t Addr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};  // network byte order, as the socket takes it
  uint32_t v;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}

TEST(SelectStoredInterface, FindsTheFirstItemEqualToTheStoredText) {
  const std::vector<std::string> items = {"Default", "10.0.0.5", "192.168.1.10", "0.0.0.0", "0.0.0.0"};
  struct Case {
    const char* what;
    std::optional<std::string> stored;
    int index;
    uint32_t addr;
  };
  const Case cases[] = {
      {"default", "Default", 0, 0},
      {"address at item 2", "192.168.1.10", 2, Addr(0xC0, 0xA8, 0x01, 0x0A)},
      {"first address", "10.0.0.5", 1, Addr(10, 0, 0, 5)},
      {"case differs from Default", "default", 0, 0},
      {"two unaddressed adapters: the first, any address", "0.0.0.0", 3, 0},
      {"nothing could be read (missing or over 256 bytes)", std::nullopt, 0, 0},
      {"adapter gone", "10.9.9.9", 0, 0},
      {"empty text", "", 0, 0},
      {"byte compare: trailing space", "192.168.1.10 ", 0, 0},
      {"a zero byte ends the text", "192.168.1.10\0junk"s, 2, Addr(0xC0, 0xA8, 0x01, 0x0A)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const InterfaceChoice choice = SelectStoredInterface(items, c.stored);
    EXPECT_EQ(choice.selectedIndex, c.index);
    EXPECT_EQ(choice.sendAddr, c.addr);
  }
}

TEST(SelectStoredInterface, AnItemThatIsNoAddressSelectsButBindsToAny) {
  // The item is selected, but an address that does not parse gives 0, and
  // so does the all-ones address that inet_addr cannot tell from an error.
  const std::vector<std::string> items = {"Default", "not-an-address", "255.255.255.255"};
  for (int i : {1, 2}) {
    const InterfaceChoice choice = SelectStoredInterface(items, items[static_cast<size_t>(i)]);
    EXPECT_EQ(choice.selectedIndex, i);
    EXPECT_EQ(choice.sendAddr, 0u);
  }
}

class InterfaceStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/iptv-choice-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }
  std::string Stored() {
    CRegistryValue reg(m_dir);
    char buf[256];
    if (reg.ReadString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, IPTV_VALUE_NAME, buf) != 0) return "(absent)";
    return std::string(buf, strnlen(buf, sizeof buf));
  }
  std::string m_dir;
};

TEST_F(InterfaceStoreTest, APickStoresTheItemTextAndNoPickStoresNothing) {
  const std::vector<std::string> items = {"Default", "10.0.0.5", "0.0.0.0"};
  CRegistryValue reg(m_dir);
  for (int none : {-1, 3}) StoreInterfaceSelection(reg, items, none);
  EXPECT_EQ(Stored(), "(absent)");

  StoreInterfaceSelection(reg, items, 1);
  EXPECT_EQ(Stored(), "10.0.0.5");
  StoreInterfaceSelection(reg, items, 0);
  EXPECT_EQ(Stored(), "Default");
  StoreInterfaceSelection(reg, items, -1);
  EXPECT_EQ(Stored(), "Default") << "no selection leaves the stored choice";
}

TEST_F(InterfaceStoreTest, StartupOffersDefaultFirstAndFallsBackToIt) {
  // Whatever this machine's interfaces are, a stored "Default", an over-long
  // value and a missing one all end at item 0 and any address.
  for (const std::optional<std::string>& stored : {std::optional<std::string>{}, std::optional<std::string>{"Default"},
                                                   std::optional<std::string>{std::string(257, '1')}}) {
    std::filesystem::remove_all(m_dir + "/Kestavin");
    CRegistryValue reg(m_dir);
    if (stored) {
      ASSERT_TRUE(reg.WriteString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, IPTV_VALUE_NAME, *stored));
    }
    g_dwSendAddr = 0xDEADBEEF;
    const InterfaceStartup s = StartupInterfaceSelection(reg);
    ASSERT_FALSE(s.items.empty());
    EXPECT_EQ(s.items[0], "Default");
    EXPECT_EQ(s.choice.selectedIndex, 0);
    EXPECT_EQ(s.choice.sendAddr, 0u);
    EXPECT_EQ(g_dwSendAddr, 0u);
  }
}

}  // namespace
