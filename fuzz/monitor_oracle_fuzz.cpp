// libFuzzer target whose oracle is our own encoder and packetizer. The
// fuzzer writes a script: a real sender and a second one edit their lists,
// run broadcast cycles as the loop does (build every section, step the
// version after a change, send one section in rotation), forge single
// sections under the real sender's version, borrow its address, and the
// air drops, duplicates, corrupts and reorders packets. The monitor must
// never print a list that was not on the air under that version from that
// source: every section of a printed list must have been sent, whole, under
// that version and section count from the address the list names. And once
// the real sender gets two clean rounds through, its current list must be
// the last one shown for its address.
//
// Section by section is as far as the truth goes: the sender's loop builds
// a new list one cycle before it steps the version, so one section of the
// new list goes out under the old version, and a receiver that missed the
// old one's other sections cannot tell. Without such a change between them,
// all sections of a version come from one list, and the check is exact.
#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "broadcast/broadcast_loop.h"
#include "broadcast/packetizer.h"
#include "broadcast/section_encoder.h"
#include "monitor/play_list_monitor.h"
#include "monitor_output_check.h"

using monitor_fuzz::Require;

namespace {

class ScriptClock : public Clock {
 public:
  LocalTime Now() const override { return t; }
  LocalTime t{2024, 3, 9, 14, 5, 30};
};

// A program as the monitor must decode it, from the table entry alone.
DecodedProgram Expected(const ProgramEntry& e) {
  DecodedProgram p;
  p.nNumber = static_cast<uint16_t>(e.nNumber);
  p.nGroup = static_cast<uint16_t>(e.nGroup);
  in_addr a{};
  p.address = inet_pton(AF_INET, e.szMulticast, &a) == 1 ? ntohl(a.s_addr) : 0xFFFFFFFFu;
  p.nPort = static_cast<uint16_t>(e.nPort);
  p.name.assign(e.szName, strnlen(e.szName, wire::MAX_NAME_LENGTH));
  p.bHD = e.bHD;
  return p;
}

// The programs of each section, by the placing rule alone: an entry of
// 17 + L bytes goes into the current section while it and the CRC fit into
// 1024 bytes after the 20-byte header, else it opens the next section; what
// does not fit into the sixth is left out.
std::vector<std::vector<DecodedProgram>> SectionsOf(const std::vector<ProgramEntry>& table) {
  std::vector<std::vector<DecodedProgram>> sections(1);
  size_t p = wire::SECTION_HEADER_SIZE;
  for (const ProgramEntry& e : table) {
    const size_t size = wire::PROGRAM_ENTRY_FIXED + strnlen(e.szName, wire::MAX_NAME_LENGTH);
    if (p + size + wire::CRC_SIZE > static_cast<size_t>(SECTION_SIZE)) {
      if (sections.size() == static_cast<size_t>(MAX_SECTIONS)) break;
      sections.emplace_back();
      p = wire::SECTION_HEADER_SIZE;
    }
    sections.back().push_back(Expected(e));
    p += size;
  }
  return sections;
}

struct Sender {
  uint32_t address = 0;
  std::vector<ProgramEntry> table;
  uint8_t version = 0;
  bool changed = true;  // as after the load's refresh
  uint8_t rotation = 0;
  uint8_t cc = 0;
};

// (source, version, last section number, section number)
using Key = std::tuple<uint32_t, int, int, int>;

struct Air {
  explicit Air(FuzzedDataProvider& in) : in(in) {}

  FuzzedDataProvider& in;
  ScriptClock clock;
  PlayListMonitor* monitor = nullptr;
  bool faults = false;
  std::optional<std::vector<uint8_t>> held;  // a packet that comes late
  uint32_t heldFrom = 0;
  std::map<Key, std::vector<std::vector<DecodedProgram>>> sent;

  void Deliver(const uint8_t* p, size_t n, uint32_t from) { monitor->Feed(p, n, 0, from); }

  void Channel(const uint8_t* packet, uint32_t from) {
    if (!faults) return Deliver(packet, wire::TS_PACKET_SIZE, from);
    std::vector<uint8_t> p(packet, packet + wire::TS_PACKET_SIZE);
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
      case 4:  // lost
        return;
      case 5:  // twice
        Deliver(p.data(), p.size(), from);
        break;
      case 6: {  // a damaged byte
        const size_t at = in.ConsumeIntegralInRange<size_t>(0, p.size() - 1);
        p[at] ^= in.ConsumeIntegralInRange<uint8_t>(1, 255);
        break;
      }
      case 7:  // overtaken by the next one
        if (!held) {
          held = p;
          heldFrom = from;
          return;
        }
        break;
      default:
        break;
    }
    Deliver(p.data(), p.size(), from);
    if (held) {
      Deliver(held->data(), held->size(), heldFrom);
      held.reset();
    }
  }

  void Flush() {
    if (held) Deliver(held->data(), held->size(), heldFrom);
    held.reset();
  }

  // Builds the whole list as the loop does and puts section k on the air
  // from `from`, recording what went out.
  void SendSection(Sender& s, uint8_t version, int k, uint32_t from) {
    SectionBuffers buf{};
    uint8_t last = 0;
    BuildSection(buf, 0, last, 0, {s.table.data(), static_cast<int>(s.table.size()), version}, clock);
    const auto expected = SectionsOf(s.table);
    Require(expected.size() == static_cast<size_t>(last) + 1u);
    if (k > last) return;
    auto& contents = sent[{from, version & 0x1F, last, k}];
    if (std::find(contents.begin(), contents.end(), expected[k]) == contents.end()) contents.push_back(expected[k]);
    PacketizeSection(buf[k], s.cc, [&](const uint8_t* p) { Channel(p, from); });
  }

  // One cycle of the broadcast loop.
  void Cycle(Sender& s, uint32_t from) {
    const uint8_t version = s.version;
    if (s.changed) s.version = NextVersion(s.version);
    s.changed = false;
    const int sections = static_cast<int>(SectionsOf(s.table).size());
    const int k = s.rotation % sections;
    ++s.rotation;
    SendSection(s, version, k, from);
  }
};

ProgramEntry RandomProgram(FuzzedDataProvider& in) {
  ProgramEntry e{};
  e.nNumber = in.ConsumeIntegral<int32_t>();
  e.nGroup = in.ConsumeIntegral<int32_t>();
  e.nPort = in.ConsumeIntegral<int32_t>();
  e.bHD = in.ConsumeIntegral<uint8_t>();
  std::snprintf(e.szMulticast, sizeof e.szMulticast, "%u.%u.%u.%u", in.ConsumeIntegral<uint8_t>(),
                in.ConsumeIntegral<uint8_t>(), in.ConsumeIntegral<uint8_t>(), in.ConsumeIntegral<uint8_t>());
  // Any bytes: control bytes, other code pages, cut characters.
  const std::string name = in.ConsumeRandomLengthString(wire::MAX_NAME_LENGTH);
  std::memcpy(e.szName, name.data(), name.size());
  return e;
}

// A table of `count` programs with names of `len` bytes, numbered from `base`.
std::vector<ProgramEntry> Uniform(int count, int len, int base) {
  std::vector<ProgramEntry> v(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    ProgramEntry& e = v[i];
    e = ProgramEntry{};
    e.nNumber = base + i;
    e.nPort = 1000 + i;
    std::snprintf(e.szMulticast, sizeof e.szMulticast, "239.1.%d.%d", i / 250, i % 250);
    std::memset(e.szName, 'a' + (base + i) % 26, static_cast<size_t>(len));
  }
  return v;
}

void Edit(FuzzedDataProvider& in, Sender& s) {
  switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:  // a whole new list, from one to six sections
      s.table = Uniform(in.ConsumeIntegralInRange<int>(0, 6 * 27), in.ConsumeIntegralInRange<int>(0, 20),
                        in.ConsumeIntegralInRange<int>(0, 1000));
      break;
    case 1:
      if (s.table.size() < static_cast<size_t>(MAX_PROGRAMS))
        s.table.insert(s.table.begin() + in.ConsumeIntegralInRange<size_t>(0, s.table.size()), RandomProgram(in));
      break;
    case 2:
      if (!s.table.empty()) s.table.erase(s.table.begin() + in.ConsumeIntegralInRange<size_t>(0, s.table.size() - 1));
      break;
    case 3:
      if (!s.table.empty()) s.table[in.ConsumeIntegralInRange<size_t>(0, s.table.size() - 1)] = RandomProgram(in);
      break;
    default:
      if (!s.table.empty()) ++s.table[in.ConsumeIntegralInRange<size_t>(0, s.table.size() - 1)].nPort;
      break;
  }
  s.changed = true;
}

// Whether `programs` splits into sections 0..n-1, each one that was sent
// under (source, version, n - 1).
bool WasOnAir(const std::map<Key, std::vector<std::vector<DecodedProgram>>>& sent, const PlayList& l) {
  std::set<size_t> reach = {0};  // program counts covered by sections 0..k-1
  for (int k = 0; k < l.sections; ++k) {
    const auto it = sent.find({l.source, l.version, l.sections - 1, k});
    if (it == sent.end()) return false;
    std::set<size_t> next;
    for (size_t at : reach) {
      for (const std::vector<DecodedProgram>& section : it->second) {
        if (at + section.size() > l.programs.size()) continue;
        if (std::equal(section.begin(), section.end(), l.programs.begin() + static_cast<long>(at)))
          next.insert(at + section.size());
      }
    }
    reach = std::move(next);
  }
  return reach.count(l.programs.size()) == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Air air(in);
  Sender real, second;
  real.address = htonl(0x0A4D0001u);    // 10.77.0.1
  second.address = htonl(0x0A4D0002u);  // 10.77.0.2
  real.table = Uniform(in.ConsumeIntegralInRange<int>(0, 60), 20, 1);
  real.version = in.ConsumeIntegralInRange<uint8_t>(0, 31);
  second.table = Uniform(in.ConsumeIntegralInRange<int>(0, 60), 20, 500);
  bool borrowed = false;  // the second sender uses the real one's address

  std::map<uint32_t, PlayList> lastShown;
  PlayListMonitor monitor([&](const PlayList& l) {
    Require(WasOnAir(air.sent, l));
    monitor_fuzz::CheckPrintedList(l);
    lastShown[l.source] = l;
  });
  air.monitor = &monitor;

  for (int step = 0; step < 400 && in.remaining_bytes() > 0; ++step) {
    Sender& s = in.ConsumeBool() ? real : second;
    const uint32_t from = &s == &second && borrowed ? real.address : s.address;
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
      case 0:
      case 1:
      case 2:
        air.Cycle(s, from);
        break;
      case 3:
        Edit(in, s);
        break;
      case 4:  // Force Update
        s.changed = true;
        break;
      case 5:  // the second sender takes the real one's version
        second.version = real.version;
        second.changed = false;
        break;
      case 6: {  // one forged section under the real sender's version
        const uint8_t version = real.version;
        air.SendSection(second, version, in.ConsumeIntegralInRange<int>(0, MAX_SECTIONS - 1),
                        borrowed ? real.address : second.address);
        break;
      }
      case 7:
        air.faults = !air.faults;
        break;
      case 8:
        borrowed = !borrowed;
        break;
      default:  // the clock moves on: every section's bytes change
        air.clock.t.second = in.ConsumeIntegralInRange<int>(0, 59);
        air.clock.t.minute = in.ConsumeIntegralInRange<int>(0, 59);
        break;
    }
  }

  // Two clean rounds from the real sender: its list must be what is shown.
  air.Flush();
  air.faults = false;
  if (real.changed) air.Cycle(real, real.address);
  const int sections = static_cast<int>(SectionsOf(real.table).size());
  for (int i = 0; i < 2 * sections; ++i) air.Cycle(real, real.address);
  const auto shown = lastShown.find(real.address);
  Require(shown != lastShown.end());
  Require(shown->second.version == (real.version & 0x1F));
  Require(shown->second.sections == sections);
  std::vector<DecodedProgram> all;
  for (const auto& section : SectionsOf(real.table)) all.insert(all.end(), section.begin(), section.end());
  Require(shown->second.programs == all);
  monitor_fuzz::CheckEndForms(monitor.Counters());
  return 0;
}
