// Reassembly from packets: what the packetizer cuts must come back whole;
// losses, duplicates and foreign packets are counted and never yield a cut
// section.
#include "monitor/ts_reassembler.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "broadcast/packetizer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A section-shaped byte run of `total` bytes (the reassembler looks only at
// the length in bytes 1 and 2).
Bytes Section(size_t total, uint8_t fill) {
  Bytes s(total, fill);
  s[0] = 0x40;
  s[1] = static_cast<uint8_t>(0xF0 | ((total - 3) >> 8));
  s[2] = static_cast<uint8_t>(total - 3);
  return s;
}

std::vector<Bytes> Packets(const Bytes& section, uint8_t& cc) {
  std::vector<Bytes> out;
  PacketizeSection(section.data(), cc, [&](const uint8_t* p) { out.emplace_back(p, p + 188); });
  return out;
}

struct Harness {
  std::vector<Bytes> sections;
  SectionReassembler r{0x0010, [this](const uint8_t* d, size_t n) { sections.emplace_back(d, d + n); }};
  void Feed(const std::vector<Bytes>& packets) {
    for (const Bytes& p : packets) r.Feed(p.data(), p.size());
  }
};

TEST(SectionReassembler, PutsBackSectionsOfEveryPacketCount) {
  // Sizes at the edges of one to six packets.
  const size_t sizes[] = {24, 183, 184, 367, 368, 551, 552, 919, 920, 1024};
  Harness h;
  uint8_t cc = 14;  // the counter wraps on the way
  std::vector<Bytes> sent;
  for (size_t size : sizes) {
    sent.push_back(Section(size, static_cast<uint8_t>(size)));
    h.Feed(Packets(sent.back(), cc));
  }
  EXPECT_EQ(h.sections, sent);
  EXPECT_EQ(h.r.Counters().continuityErrors, 0u);
  EXPECT_EQ(h.r.Counters().droppedSections, 0u);
  EXPECT_EQ(h.r.Counters().sections, std::size(sizes));
}

TEST(SectionReassembler, LossDropsTheSectionAndDuplicateIsIgnored) {
  uint8_t cc = 0;
  const Bytes a = Section(500, 0xA1), b = Section(500, 0xB2), c = Section(500, 0xC3);
  std::vector<Bytes> pa = Packets(a, cc), pb = Packets(b, cc), pc = Packets(c, cc);
  Harness h;
  h.Feed(pa);
  pb.erase(pb.begin() + 1);  // the middle packet of b is lost
  h.Feed(pb);
  pc.insert(pc.begin() + 1, pc[1]);  // a packet of c comes twice
  h.Feed(pc);
  EXPECT_EQ(h.sections, (std::vector<Bytes>{a, c}));
  EXPECT_EQ(h.r.Counters().continuityErrors, 1u);
  EXPECT_EQ(h.r.Counters().duplicates, 1u);
  EXPECT_EQ(h.r.Counters().droppedSections, 1u);
}

TEST(SectionReassembler, CountsAndIgnoresForeignPackets) {
  uint8_t cc = 0;
  const Bytes s = Section(300, 0x55);
  const std::vector<Bytes> good = Packets(s, cc);
  struct Case {
    const char* what;
    Bytes packet;
    uint64_t TsCounters::*counter;
  };
  Bytes sync = good[0], pid = good[0], tei = good[0];
  sync[0] = 0x48;
  pid[2] = 0x11;
  tei[1] |= 0x80;
  const Case cases[] = {
      {"short datagram", Bytes(187, 0x47), &TsCounters::badSize},
      {"long datagram", Bytes(376, 0x47), &TsCounters::badSize},
      {"empty datagram", Bytes(), &TsCounters::badSize},
      {"sync byte", sync, &TsCounters::syncErrors},
      {"other PID", pid, &TsCounters::otherPid},
      {"transport error", tei, &TsCounters::transportErrors},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Harness h;
    h.r.Feed(c.packet.data(), c.packet.size());
    h.Feed(good);  // a whole section afterwards still comes through
    EXPECT_EQ(h.r.Counters().*c.counter, 1u);
    EXPECT_EQ(h.sections, std::vector<Bytes>{s});
  }
}

TEST(SectionReassembler, FollowsPointerFieldAndSeveralSectionsInOnePacket) {
  // Packet 1 starts a 200-byte section (183 bytes in it). Packet 2 ends it
  // with 17 bytes before the pointer's target, then holds two small
  // sections back to back and stuffing.
  const Bytes big = Section(200, 0x11), s1 = Section(30, 0x22), s2 = Section(40, 0x33);
  Bytes p1(188, 0xFF), p2(188, 0xFF);
  p1[0] = p2[0] = 0x47;
  p1[1] = p2[1] = 0x40;
  p1[2] = p2[2] = 0x10;
  p1[3] = 0x10;
  p2[3] = 0x11;
  p1[4] = 0;
  std::copy(big.begin(), big.begin() + 183, p1.begin() + 5);
  p2[4] = 17;
  auto at = std::copy(big.begin() + 183, big.end(), p2.begin() + 5);
  at = std::copy(s1.begin(), s1.end(), at);
  std::copy(s2.begin(), s2.end(), at);
  Harness h;
  h.Feed({p1, p2});
  EXPECT_EQ(h.sections, (std::vector<Bytes>{big, s1, s2}));
}

// Random packets on our PID must never crash it or yield a section longer
// than a section can be (run under the address sanitizer to mean more).
TEST(SectionReassembler, SurvivesRandomPackets) {
  std::mt19937 rng(12345);
  Harness h;
  Bytes p(188);
  for (int i = 0; i < 20000; ++i) {
    for (uint8_t& b : p) b = static_cast<uint8_t>(rng());
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>(p[1] & 0x40);
    p[2] = 0x10;
    if (i % 3) p[4] = static_cast<uint8_t>(p[4] % 8);  // mostly plausible pointers
    h.r.Feed(p.data(), p.size());
  }
  EXPECT_EQ(h.r.Counters().packets, 20000u);
  for (const Bytes& s : h.sections) EXPECT_LE(s.size(), 4096u);
}

}  // namespace
