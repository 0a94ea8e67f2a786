// The machine's Ethernet-type interfaces, as the send-interface list offers
// them: read once at start-up; interfaces that appear later are offered at
// the next start.
#pragma once

#include <string>
#include <vector>

// Ethernet-type interfaces (ARPHRD_ETHER; loopback never) in the system's
// interface-index order, each by the dotted text of its first IPv4 address,
// "0.0.0.0" when it has none. Two interfaces may show the same text. Empty
// when the system's list cannot be had.
std::vector<std::string> FillInterfaceList();
