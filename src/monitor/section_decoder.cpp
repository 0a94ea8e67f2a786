#include "monitor/section_decoder.h"

#include <cstdio>

#include "wire/crc32.h"
#include "wire/wire_format.h"

using namespace wire;

namespace {

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
size_t Len12(const uint8_t* p) { return static_cast<size_t>((p[0] & 0x0F) << 8 | p[1]); }

// Entry layout: number(2) group(2) descriptors length(2) descriptors.
SectionError DecodeEntry(const uint8_t* p, size_t avail, DecodedProgram& prog, size_t& used) {
  if (avail < 6) return SectionError::BadDescriptor;
  prog.nNumber = Be16(p);
  prog.nGroup = Be16(p + 2);
  const size_t descLen = Len12(p + 4);
  if (6 + descLen > avail) return SectionError::BadDescriptor;
  used = 6 + descLen;
  bool found = false;
  for (size_t d = 6; d < 6 + descLen;) {
    if (d + 2 > 6 + descLen) return SectionError::BadDescriptor;
    const uint8_t tag = p[d];
    const size_t len = p[d + 1];
    const uint8_t* body = p + d + 2;
    if (d + 2 + len > 6 + descLen) return SectionError::BadDescriptor;
    // Other descriptors are skipped: a later sender may add some.
    if (tag == PROGRAM_DESCRIPTOR_TAG && !found) {
      // address(4, octets reversed) port(2) name length(1) name 0 HD
      if (len < 9) return SectionError::BadDescriptor;
      const size_t nameLen = body[6];
      if (9 + nameLen > len) return SectionError::BadDescriptor;
      prog.address = static_cast<uint32_t>(body[3]) << 24 | static_cast<uint32_t>(body[2]) << 16 |
                     static_cast<uint32_t>(body[1]) << 8 | body[0];
      prog.nPort = Be16(body + 4);
      prog.name.assign(reinterpret_cast<const char*>(body + 7), nameLen);
      prog.bHD = body[8 + nameLen];
      found = true;
    }
    d += 2 + len;
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
  if (size < 3) return SectionError::TooShort;
  if (data[0] != TABLE_ID) return SectionError::BadTableId;
  const size_t total = Len12(data + 1) + 3;
  if (total < kMinSection || total > static_cast<size_t>(SECTION_SIZE)) return SectionError::BadLength;
  if (size < total) return SectionError::TooShort;
  if (Crc32Mpeg(data, total) != 0) return SectionError::BadCrc;
  if ((data[1] & 0x80) == 0 || (data[5] & 0x01) == 0) return SectionError::BadSyntax;
  out.sectionNumber = data[6];
  out.lastSection = data[7];
  if (out.sectionNumber > out.lastSection || out.lastSection >= MAX_SECTIONS) return SectionError::BadNumbering;
  out.tableIdExtension = Be16(data + 3);
  out.version = static_cast<uint8_t>((data[5] >> 1) & 0x1F);

  const size_t end = total - CRC_SIZE;
  const size_t descLoop = Len12(data + 8);
  const size_t loopStart = 10 + descLoop;
  if (loopStart + 2 > end) return SectionError::BadLength;
  out.time = DecodedTime{};
  for (size_t d = 10; d < loopStart;) {
    if (d + 2 > loopStart || d + 2 + data[d + 1] > loopStart) return SectionError::BadDescriptor;
    if (data[d] == TIME_DESCRIPTOR_TAG && data[d + 1] >= 6) {
      const uint8_t* t = data + d + 2;
      out.time = DecodedTime{t[0], t[1], t[2], t[3], t[4], t[5], true};
    }
    d += 2 + data[d + 1];
  }
  const size_t programLoop = Len12(data + loopStart);
  const size_t p0 = loopStart + 2;
  if (p0 + programLoop != end) return SectionError::BadLength;
  out.programs.clear();
  for (size_t p = p0; p < end;) {
    DecodedProgram prog;
    size_t used = 0;
    if (SectionError e = DecodeEntry(data + p, end - p, prog, used); e != SectionError::None) return e;
    out.programs.push_back(std::move(prog));
    p += used;
  }
  return SectionError::None;
}

std::string FormatAddress(uint32_t a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  return buf;
}
