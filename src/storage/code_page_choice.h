// The window's code page: named on its command line (--codepage), else the
// one it was last named, else the locale's. A name given is kept in the
// per-user store beside the send interface ("codepage"), so the window
// reads and writes its texts the same way at every start.
#pragma once

#include <optional>
#include <string>

#include "storage/registry_value.h"
#include "text/code_page.h"

inline constexpr const char* CODE_PAGE_VALUE_NAME = "codepage";

struct CodePageStartup {
  CodePage codePage;
  // Non-empty when a name was refused and the locale's code page is used
  // instead: what to tell the operator.
  std::string message;
};

// option: the --codepage value, nullopt when none was given. A good name is
// stored; a bad one (given or stored) falls back to the locale's and is
// reported, and a bad one given leaves the stored choice as it was.
CodePageStartup ChooseCodePage(CRegistryValue& store, const std::optional<std::string>& option);
