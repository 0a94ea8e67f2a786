#include "storage/interface_choice.h"

#include <arpa/inet.h>

#include <cstring>

#include "storage/interface_list.h"

uint32_t g_dwSendAddr = 0;

InterfaceChoice SelectStoredInterface(const std::vector<std::string>& items, const std::optional<std::string>& stored) {
  InterfaceChoice choice{0, 0};
  if (!stored) return choice;
  // The stored data carries no terminating zero; a zero inside ends the text.
  const std::string text = stored->substr(0, stored->find('\0'));
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i] != text) continue;
    choice.selectedIndex = static_cast<int>(i);
    if (text != DEFAULT_INTERFACE_ITEM) {
      const in_addr_t addr = inet_addr(text.c_str());
      choice.sendAddr = addr == INADDR_NONE ? 0 : addr;
    }
    break;
  }
  return choice;
}

InterfaceStartup StartupInterfaceSelection(CRegistryValue& store) {
  InterfaceStartup startup;
  startup.items.push_back(DEFAULT_INTERFACE_ITEM);
  for (std::string& text : FillInterfaceList()) startup.items.push_back(std::move(text));

  std::optional<std::string> stored;
  char buffer[REGISTRY_READ_LIMIT];
  if (store.ReadString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, IPTV_VALUE_NAME, buffer) == 0)
    stored.emplace(buffer, strnlen(buffer, sizeof buffer));  // a 256-byte value has no room for a zero
  startup.choice = SelectStoredInterface(startup.items, stored);
  if (stored && startup.choice.selectedIndex == 0) {
    std::string text = stored->substr(0, stored->find('\0'));
    if (!text.empty() && text != DEFAULT_INTERFACE_ITEM) startup.notOffered = std::move(text);
  }
  g_dwSendAddr = startup.choice.sendAddr;
  return startup;
}

void StoreInterfaceSelection(CRegistryValue& store, const std::vector<std::string>& items, int index) {
  if (index < 0 || static_cast<size_t>(index) >= items.size()) return;
  (void)store.WriteString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, IPTV_VALUE_NAME, items[static_cast<size_t>(index)]);
}
