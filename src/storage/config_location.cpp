#include "storage/config_location.h"

#include <unistd.h>

#include <cstring>

#include "storage/config_file.h"
#include "storage/interface_choice.h"
#include "storage/registry_value.h"

std::string WindowConfigPath(const std::string& givenPath) {
  if (!givenPath.empty()) return givenPath;
  return WindowConfigPath(givenPath, ConfigPathBesideExecutable(), RegistryStoreLocation(), FolderWritable);
}

bool SystemFolder(const std::string& folder) {
  // Installed programs live here; nobody's list belongs beside them, not
  // even root's, for whom every folder is writable.
  for (const char* prefix : {"/usr/", "/bin/", "/sbin/"})
    if (folder.compare(0, std::strlen(prefix), prefix) == 0) return true;
  return false;
}

bool FolderWritable(const std::string& folder) { return access(folder.c_str(), W_OK) == 0; }

std::string WindowConfigPath(const std::string& givenPath, const std::string& besideExecutable,
                             const std::string& storeBase, bool (*writable)(const std::string& folder)) {
  if (!givenPath.empty()) return givenPath;
  const size_t slash = besideExecutable.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : besideExecutable.substr(0, slash + 1);
  if (!besideExecutable.empty() && !SystemFolder(folder) && writable(folder)) return besideExecutable;
  if (!storeBase.empty()) {
    CRegistryValue store(storeBase);
    if (const auto key = store.KeyDirectory(RegistryRoot::CurrentUser, IPTV_KEY_PATH)) return *key + "/config.txt";
  }
  return besideExecutable;
}
