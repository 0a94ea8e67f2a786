// Where the window keeps its program list. In order:
//   1. the path given with --config;
//   2. config.txt beside the executable when the executable's folder can be
//      written, as in the build tree or a copied folder (the classic place),
//      and is no system folder (/usr/..., /bin, /sbin), which root could
//      write but where no list belongs;
//   3. config.txt in the per-user store's folder, beside the stored send
//      interface: $XDG_CONFIG_HOME/Kestavin/IPTV/ (else ~/.config/...), made
//      when missing; this is where an installed window (/usr/bin) keeps it;
//   4. beside the executable after all, when there is no per-user store (no
//      home): loading finds no list and saving says why it failed.
#pragma once

#include <string>

// givenPath: the --config value, empty when none was given.
std::string WindowConfigPath(const std::string& givenPath);
// The same, with the executable's config path, the store's folder and the
// test of a folder's writability given (tests).
std::string WindowConfigPath(const std::string& givenPath, const std::string& besideExecutable,
                             const std::string& storeBase, bool (*writable)(const std::string& folder));
// Below /usr/, /bin/ or /sbin/ (folder ends with '/').
bool SystemFolder(const std::string& folder);
// Whether this process may create files in `folder`.
bool FolderWritable(const std::string& folder);
