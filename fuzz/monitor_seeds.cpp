// Writes seed inputs for monitor_packets_fuzz into the folder given: real
// lists from our own encoder, as packets and as section records, from one
// source and from two, with awkward names. Without them the fuzzer would
// hardly ever get a section past its CRC.
#include <cstdio>
#include <string>
#include <vector>

#include "broadcast/section_encoder.h"
#include "monitor_records.h"

namespace {

class FixedClock : public Clock {
 public:
  LocalTime Now() const override { return {2024, 3, 9, 14, 5, 30}; }
};

std::vector<std::vector<uint8_t>> Sections(const std::vector<ProgramEntry>& table, uint8_t version) {
  SectionBuffers buf{};
  uint8_t last = 0;
  BuildSection(buf, 0, last, 0, {table.data(), static_cast<int>(table.size()), version}, FixedClock());
  std::vector<std::vector<uint8_t>> out;
  for (int k = 0; k <= last; ++k) out.emplace_back(buf[k], buf[k] + SectionTotalSize(buf[k]));
  return out;
}

std::vector<ProgramEntry> Table(int count, const std::string& name) {
  std::vector<ProgramEntry> v(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    v[i] = ProgramEntry{};
    v[i].nNumber = i + 1;
    v[i].nPort = 1234;
    std::snprintf(v[i].szMulticast, sizeof v[i].szMulticast, "239.0.0.%d", i % 250);
    CopyField(v[i].szName, name + std::to_string(i));
  }
  return v;
}

void Write(const std::string& dir, const char* name, const std::vector<uint8_t>& bytes) {
  const std::string path = dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

void AddPackets(std::vector<uint8_t>& out, unsigned src, const std::vector<uint8_t>& section, uint8_t& cc) {
  PacketizeSection(section.data(), cc, [&](const uint8_t* p) { monitor_fuzz::AppendPacketRecord(out, src, p); });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: monitor_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const auto two = Sections(Table(40, "program name "), 5);
  const auto odd = Sections(Table(3, "x\n\x1b[31m\xD6\xD0\xC2\x9B "), 9);
  const auto forged = Sections(Table(40, "forged name   "), 5);

  std::vector<uint8_t> packets;
  uint8_t cc = 0;
  for (int round = 0; round < 2; ++round)
    for (const auto& s : two) AddPackets(packets, 0, s, cc);
  Write(dir, "one_source_packets", packets);

  std::vector<uint8_t> mixed;
  uint8_t cc0 = 0, cc1 = 7;
  AddPackets(mixed, 0, two[0], cc0);
  AddPackets(mixed, 1, forged[1], cc1);
  AddPackets(mixed, 0, two[1], cc0);
  AddPackets(mixed, 1, odd[0], cc1);
  Write(dir, "two_sources_packets", mixed);

  std::vector<uint8_t> records;
  for (const auto& s : two) monitor_fuzz::AppendSectionRecord(records, 0, s.data(), s.size(), false);
  monitor_fuzz::AppendSectionRecord(records, 0, forged[0].data(), forged[0].size(), true);
  for (const auto& s : odd) monitor_fuzz::AppendSectionRecord(records, 2, s.data(), s.size(), true);
  Write(dir, "section_records", records);
  return 0;
}
