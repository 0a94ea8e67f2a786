#include "broadcast/section_encoder.h"

#include <arpa/inet.h>

#include <cstring>
#include <ctime>

#include "wire/crc32.h"

using namespace wire;

LocalTime SystemClock::Now() const {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

int WriteTimeDescriptor(uint8_t* dest, const Clock& clock) {
  const LocalTime t = clock.Now();
  dest[0] = TIME_DESCRIPTOR_TAG;
  dest[1] = 6;
  dest[2] = static_cast<uint8_t>(((t.year % 100) + 100) % 100);
  dest[3] = static_cast<uint8_t>(t.month);
  dest[4] = static_cast<uint8_t>(t.day);
  dest[5] = static_cast<uint8_t>(t.hour);
  dest[6] = static_cast<uint8_t>(t.minute);
  dest[7] = static_cast<uint8_t>(t.second);
  return TIME_DESCRIPTOR_LENGTH;
}

namespace {

// Strict dotted decimal (what the editing commands store): four numbers
// 0..255 without leading zeros. Anything else goes to inet_addr, whose
// answer is the one that counts; this only spares the common case its cost.
bool ParseCanonical(const char* s, uint32_t& out) {
  uint32_t v = 0;
  for (int part = 0; part < 4; ++part) {
    if (*s < '0' || *s > '9') return false;
    if (*s == '0' && s[1] >= '0' && s[1] <= '9') return false;
    unsigned n = 0;
    int digits = 0;
    while (*s >= '0' && *s <= '9') {
      n = n * 10 + static_cast<unsigned>(*s++ - '0');
      if (++digits > 3) return false;
    }
    if (n > 255) return false;
    v = (v << 8) | n;
    if (part < 3 && *s++ != '.') return false;
  }
  if (*s != '\0') return false;
  out = v;
  return true;
}

uint32_t AddressHostOrder(const char* text) {
  uint32_t v;
  if (ParseCanonical(text, v)) return v;
  return ntohl(inet_addr(text));  // INADDR_NONE stays all ones
}

size_t NameLength(const ProgramEntry& e) { return strnlen(e.szName, MAX_NAME_LENGTH); }

constexpr size_t kEntriesPerSection = SECTION_SIZE - SECTION_HEADER_SIZE - CRC_SIZE;  // 1000

uint32_t FieldAddress(const ProgramEntry& e) {
  // The field may lack its terminator; convert only what it holds.
  char text[sizeof e.szMulticast + 1];
  std::memcpy(text, e.szMulticast, sizeof e.szMulticast);
  text[sizeof e.szMulticast] = '\0';
  return AddressHostOrder(text);
}

uint32_t CachedAddress(const ProgramEntry& e, int index, AddressCache* cache) {
  if (cache == nullptr || index >= MAX_PROGRAMS) return FieldAddress(e);
  AddressCache::Slot& slot = cache->slots[index];
  if (!slot.valid || std::memcmp(slot.text, e.szMulticast, sizeof slot.text) != 0) {
    std::memcpy(slot.text, e.szMulticast, sizeof slot.text);
    slot.hostOrder = FieldAddress(e);
    slot.valid = true;
  }
  return slot.hostOrder;
}

void WriteEntry(uint8_t* d, const ProgramEntry& e, size_t nameLen, uint32_t addr) {
  const size_t descLen = nameLen + 11;
  d[0] = static_cast<uint8_t>(e.nNumber >> 8);
  d[1] = static_cast<uint8_t>(e.nNumber);
  d[2] = static_cast<uint8_t>(e.nGroup >> 8);
  d[3] = static_cast<uint8_t>(e.nGroup);
  d[4] = static_cast<uint8_t>(0xF0 | (descLen >> 8));
  d[5] = static_cast<uint8_t>(descLen & 0xFF);
  d[6] = PROGRAM_DESCRIPTOR_TAG;
  d[7] = static_cast<uint8_t>(nameLen + 9);
  // Receivers expect the octets of the group address reversed.
  d[8] = static_cast<uint8_t>(addr);
  d[9] = static_cast<uint8_t>(addr >> 8);
  d[10] = static_cast<uint8_t>(addr >> 16);
  d[11] = static_cast<uint8_t>(addr >> 24);
  d[12] = static_cast<uint8_t>(e.nPort >> 8);
  d[13] = static_cast<uint8_t>(e.nPort);
  d[14] = static_cast<uint8_t>(nameLen);
  std::memcpy(d + 15, e.szName, nameLen);
  d[15 + nameLen] = 0;
  d[16 + nameLen] = e.bHD;
}

}  // namespace

int BuildSection(SectionBuffers& buffers, uint8_t sectionNumber, uint8_t& lastSection, int firstProgram,
                 const PlayListInput& input, const Clock& clock, int* leftOut) {
  const uint8_t versionByte = static_cast<uint8_t>(VERSION_BYTE_BASE | ((input.version & 0x1F) << 1));
  int ends[MAX_SECTIONS] = {};  // where each section's CRC goes
  int total = 0;
  int left = 0;
  int k = sectionNumber < MAX_SECTIONS ? sectionNumber : MAX_SECTIONS - 1;
  const int first = k;
  int i = firstProgram < 0 ? 0 : firstProgram;
  for (;;) {
    uint8_t* b = buffers[k];
    b[0] = TABLE_ID;
    b[1] = 0xF0;
    b[2] = 0;
    b[3] = TABLE_ID_EXTENSION >> 8;
    b[4] = TABLE_ID_EXTENSION & 0xFF;
    b[5] = versionByte;
    b[6] = static_cast<uint8_t>(k);
    b[7] = lastSection;
    const int dl = WriteTimeDescriptor(b + 10, clock);
    b[8] = static_cast<uint8_t>(0xF0 | (dl >> 8));
    b[9] = static_cast<uint8_t>(dl);
    b[18] = 0xF0;
    b[19] = 0;
    size_t p = SECTION_HEADER_SIZE;
    bool more = false;
    for (; i < input.count; ++i) {
      const ProgramEntry& e = input.programs[i];
      const size_t nameLen = NameLength(e);
      const size_t size = PROGRAM_ENTRY_FIXED + nameLen;
      if (p + size + CRC_SIZE <= SECTION_SIZE) {
        WriteEntry(b + p, e, nameLen, CachedAddress(e, i, input.addresses));
        p += size;
      } else if (k < MAX_SECTIONS - 1) {
        ++lastSection;
        more = true;
        break;
      } else {
        // The sixth buffer is full: the rest cannot go on the air.
        left = input.count - i;
        break;
      }
    }
    const size_t loopLen = p - SECTION_HEADER_SIZE;
    b[18] |= static_cast<uint8_t>(loopLen >> 8);
    b[19] = static_cast<uint8_t>(loopLen);
    b[1] |= static_cast<uint8_t>((p + 1) >> 8);
    b[2] = static_cast<uint8_t>(p + 1);
    ends[k] = static_cast<int>(p);
    total += static_cast<int>(p + CRC_SIZE);
    if (!more) break;
    ++k;
  }
  // Every section of one build names the same last section, and each CRC
  // covers that final byte 7.
  for (int s = first; s <= k; ++s) {
    buffers[s][7] = lastSection;
    AppendCrc32(buffers[s], ends[s]);
  }
  if (leftOut) *leftOut = left;
  return total;
}

bool PlayListFits(const ProgramEntry* programs, int count, int* leftOut) {
  int section = 0;
  size_t used = 0;
  int left = 0;
  for (int i = 0; i < count; ++i) {
    const size_t size = PROGRAM_ENTRY_FIXED + NameLength(programs[i]);
    if (used + size > kEntriesPerSection) {
      if (++section == MAX_SECTIONS) {
        left = count - i;
        break;
      }
      used = 0;
    }
    used += size;
  }
  if (leftOut) *leftOut = left;
  return left == 0;
}
