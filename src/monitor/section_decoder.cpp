#include "monitor/section_decoder.h"

#include <cstdio>

#include "wire/crc32.h"
#include "wire/wire_format.h"

using namespace wire;

namespace {

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// Program entry: program_number, group, descriptors length, descriptors.
SectionError DecodeEntry(const uint8_t* p, size_t avail, DecodedProgram& prog, size_t& used) {
  if (avail < ENTRY_HEADER_SIZE) return SectionError::BadDescriptor;
  prog.nNumber = Be16(p + ENTRY_NUMBER_AT);
  prog.nGroup = Be16(p + ENTRY_GROUP_AT);
  const size_t end = ENTRY_HEADER_SIZE + Length12(p + ENTRY_DESCRIPTORS_LENGTH_AT);
  if (end > avail) return SectionError::BadDescriptor;
  used = end;
  bool found = false;
  for (size_t d = ENTRY_HEADER_SIZE; d < end;) {
    if (d + DESCRIPTOR_HEADER_SIZE > end) return SectionError::BadDescriptor;
    const uint8_t tag = p[d];
    const size_t len = p[d + 1];
    const uint8_t* body = p + d + DESCRIPTOR_HEADER_SIZE;
    if (d + DESCRIPTOR_HEADER_SIZE + len > end) return SectionError::BadDescriptor;
    // Other descriptors are skipped: a later sender may add some.
    if (tag == PROGRAM_DESCRIPTOR_TAG && !found) {
      // address (octets reversed), port, name length, name, zero byte, HD
      if (len < PROGRAM_DESCRIPTOR_FIXED) return SectionError::BadDescriptor;
      const size_t nameLen = body[PROGRAM_NAME_LENGTH_AT];
      if (PROGRAM_DESCRIPTOR_FIXED + nameLen > len) return SectionError::BadDescriptor;
      const uint8_t* address = body + PROGRAM_ADDRESS_AT;
      prog.address = static_cast<uint32_t>(address[3]) << 24 | static_cast<uint32_t>(address[2]) << 16 |
                     static_cast<uint32_t>(address[1]) << 8 | address[0];
      prog.nPort = Be16(body + PROGRAM_PORT_AT);
      prog.name.assign(reinterpret_cast<const char*>(body + PROGRAM_NAME_AT), nameLen);
      prog.bHD = body[PROGRAM_NAME_AT + nameLen + 1];  // behind the zero byte
      found = true;
    }
    d += DESCRIPTOR_HEADER_SIZE + len;
  }
  return found ? SectionError::None : SectionError::BadDescriptor;
}

}  // namespace

const char* SectionErrorText(SectionError e) {
  switch (e) {
    case SectionError::None:
      return "ok";
    case SectionError::TooShort:
      return "section too short";
    case SectionError::BadTableId:
      return "wrong table id";
    case SectionError::BadLength:
      return "bad section length";
    case SectionError::BadCrc:
      return "CRC error";
    case SectionError::BadNumbering:
      return "bad section numbering";
    case SectionError::BadSyntax:
      return "section syntax bits not set";
    case SectionError::BadDescriptor:
      return "bad descriptor or program entry";
  }
  return "?";
}

SectionError DecodeSection(const uint8_t* data, size_t size, DecodedSection& out) {
  constexpr size_t kMinSection = SECTION_HEADER_SIZE + CRC_SIZE;  // 24: no programs
  if (size < SECTION_LENGTH_END) return SectionError::TooShort;
  if (data[0] != TABLE_ID) return SectionError::BadTableId;
  const size_t total = SectionTotalSize(data);
  if (total < kMinSection || total > static_cast<size_t>(SECTION_SIZE)) return SectionError::BadLength;
  if (size < total) return SectionError::TooShort;
  if (Crc32Mpeg(data, total) != 0) return SectionError::BadCrc;
  if ((data[SECTION_LENGTH_AT] & SECTION_SYNTAX_INDICATOR) == 0 || (data[VERSION_AT] & CURRENT_NEXT_INDICATOR) == 0) {
    return SectionError::BadSyntax;
  }
  out.sectionNumber = data[SECTION_NUMBER_AT];
  out.lastSection = data[LAST_SECTION_NUMBER_AT];
  if (out.sectionNumber > out.lastSection || out.lastSection >= MAX_SECTIONS) return SectionError::BadNumbering;
  out.tableIdExtension = Be16(data + TABLE_ID_EXTENSION_AT);
  out.version = static_cast<uint8_t>((data[VERSION_AT] >> 1) & 0x1F);  // version_number

  const size_t end = total - CRC_SIZE;
  const size_t loopStart = DESCRIPTOR_LOOP_AT + Length12(data + DESCRIPTOR_LOOP_LENGTH_AT);
  if (loopStart + LENGTH12_SIZE > end) return SectionError::BadLength;
  out.time = DecodedTime{};
  for (size_t d = DESCRIPTOR_LOOP_AT; d < loopStart;) {
    if (d + DESCRIPTOR_HEADER_SIZE > loopStart || d + DESCRIPTOR_HEADER_SIZE + data[d + 1] > loopStart) {
      return SectionError::BadDescriptor;
    }
    if (data[d] == TIME_DESCRIPTOR_TAG && data[d + 1] >= TIME_VALUES) {
      const uint8_t* t = data + d + DESCRIPTOR_HEADER_SIZE;
      out.time = DecodedTime{t[0], t[1], t[2], t[3], t[4], t[5], true};
    }
    d += DESCRIPTOR_HEADER_SIZE + data[d + 1];
  }
  const size_t programLoop = Length12(data + loopStart);  // program loop length
  const size_t p0 = loopStart + LENGTH12_SIZE;
  if (p0 + programLoop != end) return SectionError::BadLength;
  // Into the programs `out` already holds, where there are some: a caller
  // that decodes one section after another into the same object allocates
  // nothing for a section no longer than the last one. DecodeEntry sets
  // every field of an entry it accepts.
  size_t count = 0;
  for (size_t p = p0; p < end; ++count) {
    if (count == out.programs.size()) out.programs.emplace_back();
    size_t used = 0;
    if (SectionError e = DecodeEntry(data + p, end - p, out.programs[count], used); e != SectionError::None) return e;
    p += used;
  }
  out.programs.resize(count);
  return SectionError::None;
}

std::string FormatAddress(uint32_t a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  return buf;
}
