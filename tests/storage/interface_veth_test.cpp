// The send interface on real Ethernet-type interfaces, inside the private
// namespace with the veth pair vt0 10.77.0.1 <-> vt1 10.77.0.2: what the list
// offers, how a stored choice selects, and that the play list then leaves
// from that address through that interface.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/netns.h"
#include "broadcast/packetizer.h"
#include "broadcast/udp_socket.h"
#include "storage/interface_choice.h"
#include "storage/interface_list.h"

namespace {

struct Iface {
  const char* name;
  const char* addr;
};
constexpr Iface VT0{"vt0", "10.77.0.1"};
constexpr Iface VT1{"vt1", "10.77.0.2"};

// The list in the system's index order (which of the pair got the lower
// index is up to `ip link add`).
std::vector<std::string> ExpectedList() {
  if (if_nametoindex(VT0.name) < if_nametoindex(VT1.name)) return {VT0.addr, VT1.addr};
  return {VT1.addr, VT0.addr};
}

class InterfaceVethTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETNS();
    if (if_nametoindex(VT0.name) == 0 || if_nametoindex(VT1.name) == 0)
      GTEST_SKIP() << "no veth pair (run with --veth)";
    char tmpl[] = "/tmp/iptv-veth-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
  }
  void TearDown() override {
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
  }
  void Store(const std::string& text) {
    CRegistryValue reg(m_dir);
    ASSERT_TRUE(reg.WriteString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, IPTV_VALUE_NAME, text));
  }
  std::string m_dir;
};

TEST_F(InterfaceVethTest, OffersTheEthernetInterfacesByAddressAndNotLoopback) {
  EXPECT_EQ(FillInterfaceList(), ExpectedList());
}

TEST_F(InterfaceVethTest, InterfacesWithoutAddressShowAsZeros) {
  // A second pair without addresses; removed again so the other tests see
  // the namespace as it was.
  if (std::system("ip link add vt2 type veth peer name vt3 2>/dev/null") != 0) GTEST_SKIP() << "cannot add links";
  const std::vector<std::string> list = FillInterfaceList();
  std::system("ip link del vt2 2>/dev/null");
  std::vector<std::string> expected = ExpectedList();
  expected.insert(expected.end(), {"0.0.0.0", "0.0.0.0"});
  EXPECT_EQ(list, expected);
}

TEST_F(InterfaceVethTest, StoredTextSelectsItsItemAndSettlesTheSendAddress) {
  const std::vector<std::string> list = ExpectedList();
  struct Case {
    std::string stored;
    int index;
    const char* addr;  // nullptr: any
  };
  // The read limit keeps an over-long value from being cut down to an
  // address that happens to lead it.
  const Case cases[] = {
      {list[0], 1, list[0].c_str()},
      {list[1], 2, list[1].c_str()},
      {"Default", 0, nullptr},
      {VT0.addr + std::string(256 - std::strlen(VT0.addr), '\0'), VT0.addr == list[0] ? 1 : 2, VT0.addr},
      {VT0.addr + std::string(257 - std::strlen(VT0.addr), '\0'), 0, nullptr},
      {"10.77.0.3", 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored.c_str());
    Store(c.stored);
    CRegistryValue reg(m_dir);
    const InterfaceStartup s = StartupInterfaceSelection(reg);
    EXPECT_EQ(s.items, (std::vector<std::string>{"Default", list[0], list[1]}));
    EXPECT_EQ(s.choice.selectedIndex, c.index);
    EXPECT_EQ(g_dwSendAddr, c.addr ? inet_addr(c.addr) : 0u);
  }
}

class NoPause : public PacketPause {
 public:
  void Pause() override {}
};

TEST_F(InterfaceVethTest, ThePlayListLeavesFromTheChosenAddressThroughItsInterface) {
  // Each way round: the group is routed to vt0, so sending from vt1's
  // address shows that the choice, not the route, picks the interface.
  for (const auto& [from, to] : {std::pair{VT0, VT1}, std::pair{VT1, VT0}}) {
    SCOPED_TRACE(std::string(from.name) + " -> " + to.name);
    // Both ends live here: let the receiving side take a local source.
    for (const auto& [knob, value] : {std::pair{"accept_local", "1"}, std::pair{"rp_filter", "0"}}) {
      const std::string path = std::string("/proc/sys/net/ipv4/conf/") + to.name + "/" + knob;
      std::ofstream(path) << value;
    }

    Store(from.addr);
    CRegistryValue reg(m_dir);
    (void)StartupInterfaceSelection(reg);
    ASSERT_EQ(g_dwSendAddr, inet_addr(from.addr));

    const int rx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(rx, 0);
    const int on = 1;
    ASSERT_EQ(setsockopt(rx, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on), 0);
    ASSERT_EQ(setsockopt(rx, IPPROTO_IP, IP_PKTINFO, &on, sizeof on), 0);
    timeval deadline{10, 0};  // generous: a lost datagram fails, it does not hang
    ASSERT_EQ(setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &deadline, sizeof deadline), 0);
    sockaddr_in group = PlayListDestination();
    ASSERT_EQ(bind(rx, reinterpret_cast<const sockaddr*>(&group), sizeof group), 0);
    ip_mreq join{};
    join.imr_multiaddr = group.sin_addr;
    join.imr_interface.s_addr = inet_addr(to.addr);
    ASSERT_EQ(setsockopt(rx, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join), 0);

    UdpSocket tx;
    NoPause pause;
    const sockaddr_in dest = OpenSendSocket(tx, g_dwSendAddr);
    ASSERT_TRUE(tx.IsOpen());
    uint8_t section[32] = {0x40, 0xF0, 32 - 3};
    uint8_t continuity = 0;
    ASSERT_EQ(SendSection(tx, pause, dest, section, continuity), 188);

    uint8_t packet[512];
    sockaddr_in source{};
    char control[256];
    iovec iov{packet, sizeof packet};
    msghdr msg{};
    msg.msg_name = &source;
    msg.msg_namelen = sizeof source;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(rx, &msg, 0);
    ASSERT_EQ(n, 188) << "nothing arrived on " << to.name;
    EXPECT_EQ(packet[0], 0x47);
    EXPECT_EQ(source.sin_addr.s_addr, inet_addr(from.addr));
    unsigned arrivedOn = 0;
    for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm != nullptr; cm = CMSG_NXTHDR(&msg, cm))
      if (cm->cmsg_level == IPPROTO_IP && cm->cmsg_type == IP_PKTINFO)
        arrivedOn = static_cast<unsigned>(reinterpret_cast<const in_pktinfo*>(CMSG_DATA(cm))->ipi_ifindex);
    EXPECT_EQ(arrivedOn, if_nametoindex(to.name));
    close(rx);
  }
}

}  // namespace
