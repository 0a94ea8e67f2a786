// Reads a play-list section back into its fields: the receiver's side of
// section_encoder.h, on the same layout (wire_format.h). A section is
// checked whole (table id, length, numbering, CRC over the whole section)
// before any field is read, so a damaged section never yields a half list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class SectionError {
  None,
  TooShort,      // fewer bytes than the header and CRC need, or than section_length says
  BadTableId,    // not 0x40
  BadLength,     // section_length outside 21..1021 or loops that do not add up
  BadCrc,        // CRC-32/MPEG-2 over the whole section is not 0
  BadNumbering,  // section number above the last section number, or above 5
  BadSyntax,     // section syntax indicator or current/next indicator not set
  BadDescriptor  // a descriptor or program entry that overruns its loop
};

const char* SectionErrorText(SectionError e);

// The time descriptor's six values as sent; year is modulo 100.
struct DecodedTime {
  uint8_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool present = false;
};

struct DecodedProgram {
  uint16_t nNumber = 0;
  uint16_t nGroup = 0;
  uint32_t address = 0;  // a.b.c.d as the value (a << 24 | b << 16 | c << 8 | d)
  uint16_t nPort = 0;
  std::string name;  // the name's bytes as sent
  uint8_t bHD = 0;
  bool operator==(const DecodedProgram&) const = default;
};

struct DecodedSection {
  uint16_t tableIdExtension = 0;
  uint8_t version = 0;  // 0..31
  uint8_t sectionNumber = 0;
  uint8_t lastSection = 0;
  DecodedTime time;
  std::vector<DecodedProgram> programs;
};

// Decodes the section at data[0..size). Bytes past the section's own length
// are ignored. On error `out` is left in an unspecified state.
SectionError DecodeSection(const uint8_t* data, size_t size, DecodedSection& out);

// "a.b.c.d" of an address value as DecodedProgram holds it.
std::string FormatAddress(uint32_t address);
