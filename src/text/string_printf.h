// printf into a std::string, for messages and report lines. The format
// attribute makes the compiler check every call's arguments against its
// literal format, so a message and its values cannot drift apart.
#pragma once

#include <string>

// The whole formatted text, however long; empty on an encoding error.
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
