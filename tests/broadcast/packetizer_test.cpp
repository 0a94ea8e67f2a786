#include "broadcast/packetizer.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace {

// A section buffer of total size `total` whose bytes after the header count
// up, so any misplaced byte shows.
std::vector<uint8_t> SectionOfSize(int total) {
  std::vector<uint8_t> s(static_cast<size_t>(total));
  for (int i = 0; i < total; ++i) s[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + 3);
  s[0] = 0x40;
  s[1] = static_cast<uint8_t>(0xF0 | ((total - 3) >> 8));
  s[2] = static_cast<uint8_t>(total - 3);
  return s;
}

}  // namespace

TEST(Packetizer, PacketLayoutsBySectionSize) {
  struct Case {
    int total;
    int packets;
    int lastData;  // section bytes in the last packet
  };
  const Case cases[] = {{24, 1, 24}, {183, 1, 183}, {184, 2, 1}, {367, 2, 184}, {368, 3, 1}, {1024, 6, 105}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.total);
    const std::vector<uint8_t> section = SectionOfSize(c.total);
    std::vector<std::vector<uint8_t>> packets;
    uint8_t cc = 0;
    const int n = PacketizeSection(section.data(), cc, [&](const uint8_t* p) { packets.emplace_back(p, p + 188); });
    ASSERT_EQ(n, c.packets);
    ASSERT_EQ(static_cast<int>(packets.size()), c.packets);
    std::vector<uint8_t> payload;
    for (int i = 0; i < n; ++i) {
      const auto& p = packets[static_cast<size_t>(i)];
      EXPECT_EQ(p[0], 0x47);
      EXPECT_EQ(p[1], i == 0 ? 0x40 : 0x00);
      EXPECT_EQ(p[2], 0x10);
      EXPECT_EQ(p[3], 0x10 | i);
      const size_t start = i == 0 ? 5 : 4;
      if (i == 0) {
        EXPECT_EQ(p[4], 0x00);
      }
      payload.insert(payload.end(), p.begin() + static_cast<long>(start), p.end());
    }
    // The section, then stuffing to the end of the last packet.
    ASSERT_GE(payload.size(), section.size());
    EXPECT_TRUE(std::equal(section.begin(), section.end(), payload.begin()));
    const size_t stuffing = payload.size() - section.size();
    EXPECT_EQ(stuffing, static_cast<size_t>((c.packets == 1 ? 183 : 184) - c.lastData));
    for (size_t i = section.size(); i < payload.size(); ++i) ASSERT_EQ(payload[i], 0xFF) << i;
  }
}

TEST(Packetizer, ContinuityRunsOnAcrossSectionsAndSendsAreSummed) {
  RecordingSocket socket;
  CountingPause pause;
  const sockaddr_in dest = PlayListDestination();
  const std::vector<uint8_t> three = SectionOfSize(400);
  uint8_t cc = 14;
  EXPECT_EQ(SendSection(socket, pause, dest, three.data(), cc), 3 * 188);
  const std::vector<uint8_t> one = SectionOfSize(24);
  EXPECT_EQ(SendSection(socket, pause, dest, one.data(), cc), 188);
  const auto packets = socket.Packets();
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[0][3] & 0x0F, 14);
  EXPECT_EQ(packets[1][3] & 0x0F, 15);
  EXPECT_EQ(packets[2][3] & 0x0F, 0);
  EXPECT_EQ(packets[3][3] & 0x0F, 1);
  EXPECT_EQ(pause.count, 4);  // after every packet, the last included
  const std::vector<uint8_t> two = SectionOfSize(200);
  SendSection(socket, pause, dest, two.data(), cc, /*pauseAfterLast=*/false);
  EXPECT_EQ(pause.count, 5);  // between the two packets only

  socket.fail = true;
  EXPECT_EQ(SendSection(socket, pause, dest, three.data(), cc), -3);
  EXPECT_EQ(cc, 7);  // the counter steps for failed sends too
  EXPECT_EQ(pause.count, 8);
}

TEST(Packetizer, DestinationIsTheGroupAndPort) {
  const sockaddr_in dest = PlayListDestination();
  const auto* a = reinterpret_cast<const uint8_t*>(&dest.sin_addr.s_addr);
  EXPECT_EQ(Hex(a, 4), "E0 01 01 01");
  const auto* p = reinterpret_cast<const uint8_t*>(&dest.sin_port);
  EXPECT_EQ(Hex(p, 2), "27 11");
}
