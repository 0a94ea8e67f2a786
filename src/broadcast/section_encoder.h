// Encodes the program table as the play list: one to six sections of at most
// 1024 bytes, each closed by its CRC-32/MPEG-2 (layout in wire_format.h).
// Runs on the broadcast thread; allocates nothing.
#pragma once

#include <cstdint>

#include "table/program_table.h"
#include "wire/wire_format.h"

struct LocalTime {
  int year;    // e.g. 2024
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..59 (60 on a leap second)
};

// The wall clock that stamps the time descriptor; tests pass a fixed one.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
};

// The machine's local time, read once per call (converted once a second).
class SystemClock : public Clock {
 public:
  LocalTime Now() const override;
};

using SectionBuffers = uint8_t[MAX_SECTIONS][SECTION_SIZE];

// Writes the 8-byte time descriptor (0xBC, 6, year % 100, month, day, hour,
// minute, second, from one reading of the clock) at dest; returns 8.
int WriteTimeDescriptor(uint8_t* dest, const Clock& clock);

// Group addresses already converted, by table index, kept by the caller
// from one build to the next: a text equal byte for byte to the one last
// converted is not converted again. Parsing 300 address texts is otherwise
// most of a build's cost.
struct AddressCache {
  struct Slot {
    char text[sizeof(ProgramEntry::szMulticast)];
    uint32_t hostOrder;
    bool valid;
  };
  Slot slots[MAX_PROGRAMS];
};

struct PlayListInput {
  const ProgramEntry* programs;
  int count;                          // programs 0..count-1 are encoded in order
  uint8_t version;                    // only the low five bits go on the air
  AddressCache* addresses = nullptr;  // optional; used for indexes below MAX_PROGRAMS
};

// Builds section `sectionNumber` into buffer `sectionNumber` from program
// `firstProgram` on, and every further section the remaining programs need.
// The buffers must be all zero. `lastSection` (0 before the first call) ends
// as the number of sections minus one. Returns the total size of the sections
// built. Programs that do not fit into the sixth section are left out; their
// number goes to *leftOut when it is given.
int BuildSection(SectionBuffers& buffers, uint8_t sectionNumber, uint8_t& lastSection, int firstProgram,
                 const PlayListInput& input, const Clock& clock, int* leftOut = nullptr);

// The play list's program entries as they go on the air, encoded once when
// the table is published and kept until the next publication, so that a
// cycle only puts the sections around them: the sections' program loops,
// one after another, packed as BuildSection packs them.
struct PlayListEntries {
  // Bytes of program entries one section holds: 1024 less the header and
  // the CRC.
  static constexpr size_t kLoopCapacity = SECTION_SIZE - wire::SECTION_HEADER_SIZE - wire::CRC_SIZE;  // 1000

  uint8_t bytes[MAX_SECTIONS * kLoopCapacity];
  size_t loopEnd[MAX_SECTIONS];  // where section s's program loop ends in `bytes`
  int sections = 0;              // 1..6 once encoded
  int leftOut = 0;               // programs that did not fit into six sections
};

// Encodes programs 0..count-1 of `input` into `entries` (input.version is
// not used: it belongs to the sections).
void EncodePlayListEntries(PlayListEntries& entries, const PlayListInput& input);

// Builds the sections of `entries` into the buffers from section 0 on:
// the same bytes as BuildSection from section 0 and program 0 of the table
// the entries were encoded from. Reads the clock once per section. Returns
// the total size of the sections; `lastSection` gets their number minus one.
int BuildSections(SectionBuffers& buffers, const PlayListEntries& entries, uint8_t version, const Clock& clock,
                  uint8_t& lastSection);

// Whole size in bytes of a section in a buffer, from its section_length.
inline int SectionTotalSize(const uint8_t* section) { return static_cast<int>(wire::SectionTotalSize(section)); }

// Whether the table's programs 0..count-1 all fit into six sections, by the
// same packing BuildSection follows (section 0, program 0 on): the test the
// editing commands use before they accept a change. *leftOut, when given,
// gets the number that BuildSection would leave out.
bool PlayListFits(const ProgramEntry* programs, int count, int* leftOut = nullptr);
