#include "storage/code_page_choice.h"

#include <cstring>

#include "storage/interface_choice.h"
#include "text/string_printf.h"

CodePageStartup ChooseCodePage(CRegistryValue& store, const std::optional<std::string>& option) {
  std::string error;
  const auto fallBack = [](const std::string& why) {
    const CodePage locale = CodePage::FromLocale();
    return CodePageStartup{locale, StringPrintf("%s; the texts are read and written in the locale's code page %s",
                                                why.c_str(), locale.Name().c_str())};
  };
  if (option) {
    std::optional<CodePage> named = CodePage::Named(*option, &error);
    if (!named) return fallBack("--codepage: " + error);
    store.WriteString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, CODE_PAGE_VALUE_NAME, *option);
    return {*named, {}};
  }
  char stored[256] = {};
  if (store.ReadString(RegistryRoot::CurrentUser, IPTV_KEY_PATH, CODE_PAGE_VALUE_NAME, stored) != 0)
    return {CodePage::FromLocale(), {}};
  const std::string name(stored, strnlen(stored, sizeof stored));
  std::optional<CodePage> named = CodePage::Named(name, &error);
  if (!named) return fallBack("stored code page: " + error);
  return {*named, {}};
}
