#include "storage/interface_list.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct FreeIfaddrs {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

struct Link {
  int index;
  std::string name;
};

// Addresses carrying a label ("eth0:1") still belong to eth0.
bool BelongsTo(const char* addrName, const std::string& linkName) {
  const size_t n = linkName.size();
  return std::strncmp(addrName, linkName.c_str(), n) == 0 && (addrName[n] == '\0' || addrName[n] == ':');
}

}  // namespace

std::vector<std::string> FillInterfaceList() {
  std::vector<std::string> list;
  ifaddrs* first = nullptr;
  // getifaddrs reads the links and addresses of this process's network
  // namespace; /sys/class/net would show the namespace sysfs was mounted in.
  if (getifaddrs(&first) != 0) return list;
  const std::unique_ptr<ifaddrs, FreeIfaddrs> all(first);

  std::vector<Link> links;
  for (const ifaddrs* ifa = all.get(); ifa != nullptr; ifa = ifa->ifa_next) {
    if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_PACKET) continue;
    if ((ifa->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const auto* ll = reinterpret_cast<const sockaddr_ll*>(ifa->ifa_addr);
    if (ll->sll_hatype != ARPHRD_ETHER) continue;
    links.push_back({ll->sll_ifindex, ifa->ifa_name});
  }
  std::stable_sort(links.begin(), links.end(), [](const Link& a, const Link& b) { return a.index < b.index; });

  for (const Link& link : links) {
    std::string text = "0.0.0.0";
    // The kernel lists an interface's primary address first.
    for (const ifaddrs* ifa = all.get(); ifa != nullptr; ifa = ifa->ifa_next) {
      if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET) continue;
      if (!BelongsTo(ifa->ifa_name, link.name)) continue;
      char dotted[INET_ADDRSTRLEN] = {};
      const auto* in = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr);
      if (inet_ntop(AF_INET, &in->sin_addr, dotted, sizeof dotted) != nullptr) text = dotted;
      break;
    }
    list.push_back(std::move(text));
  }
  return list;
}
