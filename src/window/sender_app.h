// The application's start-up: checks that datagram sockets can be had, then
// runs the main window modally; the process ends when the window closes.
#pragma once

#include <optional>
#include <string>

class Prompter;

class CSenderApp {
 public:
  // Runs the whole program on an existing QApplication. Always returns
  // false, as there is nothing to run after the window.
  bool InitInstance();

  // Seams for the start-up check: the socket test and where its failure
  // message (and that of a refused code page) goes (none: a message box
  // without an owner).
  bool (*m_socketsAvailable)() = nullptr;
  Prompter* m_startupPrompter = nullptr;
  // The --config path; empty: the usual places (storage/config_location.h).
  std::string m_configPath;
  // --codepage NAME, if given (see storage/code_page_choice.h).
  std::optional<std::string> m_codePageOption;
};
