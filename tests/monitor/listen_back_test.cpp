// The listen-back's thread against real datagrams in a private namespace:
// it completes our list, keeps a second sender apart and names it, and its
// snapshot is safe to take from another thread while it receives.
#include "monitor/listen_back.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "../broadcast/test_support.h"
#include "../support/netns.h"
#include "broadcast/packetizer.h"

namespace {

// Sends the sections of `programs` under `version` from `bindAddr`, one round.
struct TestSender {
  int fd = -1;
  uint8_t continuity = 0;
  explicit TestSender(const char* bindAddr) {
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr(bindAddr);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ~TestSender() {
    if (fd >= 0) ::close(fd);
  }
  void Round(const std::vector<ProgramEntry>& programs, uint8_t version) {
    SectionBuffers buf{};
    uint8_t last = 0;
    FixedClock clock;
    BuildSection(buf, 0, last, 0, {programs.data(), static_cast<int>(programs.size()), version}, clock);
    const sockaddr_in dest = PlayListDestination();
    for (int k = 0; k <= last; ++k)
      PacketizeSection(buf[k], continuity, [&](const uint8_t* p) {
        (void)::sendto(fd, p, wire::TS_PACKET_SIZE, 0, reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
      });
  }
};

std::vector<ProgramEntry> Programs(int n, const char* prefix) {
  std::vector<ProgramEntry> v;
  for (int i = 0; i < n; ++i)
    v.push_back(MakeProgram(i + 1, prefix + std::to_string(i) + std::string(20, 'n'), "239.1.1.1", 1234, 0, 0));
  return v;
}

// Sends rounds until the snapshot satisfies `done` (bounded).
bool SendUntil(ListenBack& lb, const std::function<void()>& round,
               const std::function<bool(const ListenBackSnapshot&)>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    round();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done(lb.Snapshot())) return true;
  }
  return false;
}

}  // namespace

TEST(ListenBack, CompletesOurListAndNamesASecondSender) {
  REQUIRE_PRIVATE_NETNS();
  ListenBack lb;
  lb.Start(0);
  TestSender ours("0.0.0.0");  // sends from where the route says, as the loop does
  TestSender other("127.0.0.2");
  ASSERT_GE(ours.fd, 0);
  ASSERT_GE(other.fd, 0);
  const std::vector<ProgramEntry> list = Programs(60, "p");  // three sections

  ASSERT_TRUE(SendUntil(
      lb, [&] { ours.Round(list, 5); },
      [](const ListenBackSnapshot& s) { return s.list && s.list->version == 5 && s.lastCompleteNs >= 0; }));
  ListenBackSnapshot s = lb.Snapshot();
  EXPECT_TRUE(s.listening);
  EXPECT_TRUE(s.ownKnown);
  EXPECT_EQ(s.list->sections, 3);
  EXPECT_EQ(s.list->programs.size(), 60u);
  EXPECT_TRUE(s.others.empty());
  EXPECT_EQ(s.crcErrors + s.continuityErrors, 0u);
  EXPECT_GT(s.all.count, 0u);

  // Another list under another version from another address: named, kept
  // apart, and our list stays the one shown.
  const std::vector<ProgramEntry> strange = Programs(2, "x");
  ASSERT_TRUE(SendUntil(
      lb,
      [&] {
        ours.Round(list, 5);
        other.Round(strange, 9);
      },
      [](const ListenBackSnapshot& snap) { return !snap.others.empty() && snap.lastCompleteNs > 0; }));
  s = lb.Snapshot();
  ASSERT_EQ(s.others.size(), 1u);
  EXPECT_EQ(s.others[0].address, inet_addr("127.0.0.2"));
  EXPECT_EQ(s.list->version, 5);
  EXPECT_EQ(s.list->programs.size(), 60u);
  EXPECT_EQ(s.crcErrors + s.continuityErrors + s.conflicts, 0u);
  lb.Stop();
  lb.Stop();  // a second stop is harmless
}
