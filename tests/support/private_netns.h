// Whether this process runs inside the private network namespace that
// scripts/netns-exec creates (it marks the namespace in IPTV_PRIVATE_NETNS).
// Anything that sends multicast checks this first and refuses otherwise.
#pragma once

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
