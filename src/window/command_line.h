// The window's own options. Qt takes its standard ones (-platform, -style,
// ...) out of the arguments when the application object is made; what is
// left must be ours.
#pragma once

#include <string>

struct WindowOptions {
  enum class Action { Run, Help, Version, Bad };
  Action action = Action::Run;
  std::string configPath;  // --config PATH; empty: the usual places (see storage/config_location.h)
  std::string problem;     // Bad: what is wrong
};

// strict: every argument must be ours (after Qt took its own); otherwise
// only --help and --version are looked for, so they can be answered before
// a display is needed.
WindowOptions ParseWindowOptions(int argc, char** argv, bool strict);

extern const char kWindowUsage[];
