// Guard for tests that open sockets: they run only inside the private
// network namespace that scripts/netns-exec creates, never on the real
// network.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

inline bool InPrivateNetns() {
  const char* mark = std::getenv("IPTV_PRIVATE_NETNS");
  if (mark == nullptr || *mark == '\0') return false;
  char buf[128];
  const ssize_t n = readlink("/proc/self/ns/net", buf, sizeof buf - 1);
  if (n <= 0) return false;
  return std::string(buf, static_cast<size_t>(n)) == mark;
}

#define REQUIRE_PRIVATE_NETNS()                                                                   \
  do {                                                                                            \
    if (!InPrivateNetns())                                                                        \
      GTEST_SKIP() << "not inside a private network namespace (run through scripts/netns-exec); " \
                      "this test sends multicast and never runs on the real network";             \
  } while (0)
