// Guard for tests that open sockets: they run only inside the private
// network namespace that scripts/netns-exec creates, never on the real
// network.
#pragma once

#include <gtest/gtest.h>

#include "private_netns.h"

#define REQUIRE_PRIVATE_NETNS()                                                                   \
  do {                                                                                            \
    if (!InPrivateNetns())                                                                        \
      GTEST_SKIP() << "not inside a private network namespace (run through scripts/netns-exec); " \
                      "this test sends multicast and never runs on the real network";             \
  } while (0)
