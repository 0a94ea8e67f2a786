// The operator's choice of send interface: offered at start-up as "Default"
// plus the Ethernet interfaces, stored per user as the chosen item's text,
// and found again at the next start, where it settles g_dwSendAddr. A new
// choice is only stored: the socket keeps the address it was bound to until
// the next start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/registry_value.h"

inline constexpr const char* IPTV_KEY_PATH = "Software\\Kestavin\\IPTV";
inline constexpr const char* IPTV_VALUE_NAME = "eth";
inline constexpr const char* DEFAULT_INTERFACE_ITEM = "Default";

// The address the broadcast socket binds to (network byte order, 0 for
// any). Set once by the start-up selection on the window thread, before the
// broadcast thread starts; the thread's start orders the write before its
// one read.
extern uint32_t g_dwSendAddr;

struct InterfaceChoice {
  int selectedIndex;  // the item to select
  uint32_t sendAddr;  // network byte order, 0 for any
};

// items[0] is "Default", then the interface texts; stored is the stored text
// (nullopt when it could not be read), taken up to its first zero byte. The
// first item equal to it byte for byte (case counts) is selected; its
// address becomes sendAddr unless it is "Default" or does not parse. No
// match selects item 0 with address 0.
InterfaceChoice SelectStoredInterface(const std::vector<std::string>& items, const std::optional<std::string>& stored);

struct InterfaceStartup {
  std::vector<std::string> items;  // what the drop-down list offers, in order
  InterfaceChoice choice;
  // The stored text when no item matched it and the choice fell back to
  // "Default"; empty when nothing (or nothing but "Default") was stored.
  std::string notOffered;
};

// The start-up selection: "Default" + FillInterfaceList(), the stored text
// read from store, the choice made; also sets g_dwSendAddr to its address.
InterfaceStartup StartupInterfaceSelection(CRegistryValue& store);

// Stores the text of items[index] (nothing for a negative or out-of-range
// index). A failed write is silent: the next start uses the older value.
void StoreInterfaceSelection(CRegistryValue& store, const std::vector<std::string>& items, int index);
