#include "broadcast/section_encoder.h"

#include <arpa/inet.h>

#include <bit>
#include <cassert>
#include <cstring>
#include <ctime>

#include "wire/byte_writer.h"
#include "wire/crc32.h"

using namespace wire;

LocalTime SystemClock::Now() const {
  // The local time changes with the second only; a build reads it once per
  // section, so each thread keeps the last conversion.
  thread_local std::time_t last = -1;
  thread_local LocalTime local{};
  const std::time_t now = std::time(nullptr);
  if (now != last) {
    std::tm tm{};
    localtime_r(&now, &tm);
    local = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    last = now;
  }
  return local;
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

// strnlen(szName, MAX_NAME_LENGTH), eight bytes a step and inline: names are
// short, and a call per program was a fifth of a build.
size_t NameLength(const ProgramEntry& e) {
  static_assert(sizeof e.szName % 8 == 0 && sizeof e.szName > MAX_NAME_LENGTH);
  if constexpr (std::endian::native != std::endian::little) {
    return strnlen(e.szName, MAX_NAME_LENGTH);
  } else {
    for (size_t at = 0; at < sizeof e.szName; at += 8) {
      uint64_t word;
      std::memcpy(&word, e.szName + at, sizeof word);
      // High bit of each zero byte; a borrow can mark bytes above the first
      // zero only, so the lowest mark is exact.
      const uint64_t zeros = (word - 0x0101010101010101u) & ~word & 0x8080808080808080u;
      if (zeros != 0) {
        const size_t n = at + static_cast<size_t>(__builtin_ctzll(zeros)) / 8;
        return n < MAX_NAME_LENGTH ? n : MAX_NAME_LENGTH;
      }
    }
    return MAX_NAME_LENGTH;
  }
}

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

// The time descriptor's eight bytes, all six values from one reading of
// the clock. Inlined so that the writer stays in registers: a writer
// whose address escapes is reloaded after every byte stored.
[[gnu::always_inline]] inline void PutTimeDescriptor(ByteWriter& w, const LocalTime& t) {
  w.Put8(TIME_DESCRIPTOR_TAG);                                 // tag
  w.Put8(TIME_VALUES);                                         // length
  w.Put8(static_cast<uint8_t>(((t.year % 100) + 100) % 100));  // year % 100
  w.Put8(static_cast<uint8_t>(t.month));                       // month
  w.Put8(static_cast<uint8_t>(t.day));                         // day
  w.Put8(static_cast<uint8_t>(t.hour));                        // hour
  w.Put8(static_cast<uint8_t>(t.minute));                      // minute
  w.Put8(static_cast<uint8_t>(t.second));                      // second
}

// One program entry, 17 + nameLen bytes. Numbers go on the air as their
// low 16 bits. Inlined for the same reason as the time descriptor.
[[gnu::always_inline]] inline void PutProgramEntry(ByteWriter& w, const ProgramEntry& e, size_t nameLen, uint32_t addr) {
  w.Put16(static_cast<uint16_t>(e.nNumber));                                      // program_number
  w.Put16(static_cast<uint16_t>(e.nGroup));                                       // group
  const ByteWriter::LengthField descriptors = w.ReserveLength12(RESERVED_FLAGS);  // descriptors length
  w.Put8(PROGRAM_DESCRIPTOR_TAG);                                                 // program descriptor: tag
  w.Put8(static_cast<uint8_t>(PROGRAM_DESCRIPTOR_FIXED + nameLen));               // length
  w.Put32(__builtin_bswap32(addr));         // address: receivers expect the octets reversed (d, c, b, a)
  w.Put16(static_cast<uint16_t>(e.nPort));  // port
  w.Put8(static_cast<uint8_t>(nameLen));    // name length
  w.PutBytes(e.szName, nameLen);            // name, without terminator
  w.Put8(0);                                // zero byte
  w.Put8(e.bHD);                            // HD, the byte as stored
  w.FillLength12(descriptors);
}

// The play list's one packing rule, for the encoder and the fit check
// alike: programs go in table order into the open section as long as their
// entry and the CRC behind it still fit into SECTION_SIZE bytes; the first
// that does not opens the next section, and in the sixth it and every
// program after it are left out. Tells `sink` of every program placed
// (Entry(program, index, nameLen)) and of every section opened after `section`
// (NextSection()); returns how many programs were left out.
template <class Sink>
int PackPrograms(const ProgramEntry* programs, int first, int count, int section, Sink& sink) {
  size_t used = 0;  // bytes of program entries in the open section
  for (int i = first; i < count; ++i) {
    const size_t nameLen = NameLength(programs[i]);
    const size_t size = PROGRAM_ENTRY_FIXED + nameLen;
    if (used + size > PlayListEntries::kLoopCapacity) {
      if (section == MAX_SECTIONS - 1) return count - i;
      ++section;
      sink.NextSection();
      used = 0;
    }
    sink.Entry(programs[i], i, nameLen);
    used += size;
  }
  return 0;
}

// Writes the sections into the buffers as PackPrograms places the
// programs.
class SectionSink {
 public:
  SectionSink(SectionBuffers& buffers, int section, uint8_t& lastSection, const PlayListInput& input,
              const Clock& clock)
      : m_buffers(buffers),
        m_lastSection(lastSection),
        m_input(input),
        m_clock(clock),
        m_versionByte(static_cast<uint8_t>(VERSION_BYTE_BASE | ((input.version & 0x1F) << 1))),
        m_first(section),
        m_section(section),
        m_w(buffers[section], SECTION_SIZE) {
    Open();
  }

  void Entry(const ProgramEntry& e, int i, size_t nameLen) {
    PutProgramEntry(m_w, e, nameLen, CachedAddress(e, i, m_input.addresses));
  }

  void NextSection() {
    Close();
    ++m_lastSection;
    ++m_section;
    m_w = ByteWriter(m_buffers[m_section], SECTION_SIZE);
    Open();
  }

  // Closes the open section, then gives every section of this build the
  // final last_section_number and its CRC, which covers that byte. Returns
  // the total size of the sections.
  int Finish() {
    Close();
    for (int s = m_first; s <= m_section; ++s) {
      m_buffers[s][LAST_SECTION_NUMBER_AT] = m_lastSection;
      AppendCrc32(m_buffers[s], m_ends[s]);
    }
    return m_total;
  }

 private:
  // The header up to the program loop; the clock is read as it is written.
  void Open() {
    m_w.Put8(TABLE_ID);                                           // table_id
    m_sectionLength = m_w.ReserveLength12(SECTION_SYNTAX_FLAGS);  // syntax bits, section_length
    m_w.Put16(TABLE_ID_EXTENSION);                                // table_id_extension
    m_w.Put8(m_versionByte);                                      // 01, version_number, current_next_indicator
    m_w.Put8(static_cast<uint8_t>(m_section));                    // section_number
    m_w.Put8(m_lastSection);                                      // last_section_number, final in Finish
    const ByteWriter::LengthField descriptors = m_w.ReserveLength12(RESERVED_FLAGS);  // descriptor loop length
    PutTimeDescriptor(m_w, m_clock.Now());                                            // the descriptor loop
    m_w.FillLength12(descriptors);
    m_programLoop = m_w.ReserveLength12(RESERVED_FLAGS);  // program loop length
    assert(m_w.Size() == SECTION_HEADER_SIZE);            // what the packing counts on
  }

  void Close() {
    m_w.FillLength12(m_programLoop);
    m_w.FillLength12(m_sectionLength, CRC_SIZE);
    m_ends[m_section] = static_cast<int>(m_w.Size());  // where the CRC goes
    m_total += static_cast<int>(m_w.Size() + CRC_SIZE);
  }

  SectionBuffers& m_buffers;
  uint8_t& m_lastSection;
  const PlayListInput& m_input;
  const Clock& m_clock;
  const uint8_t m_versionByte;
  const int m_first;
  int m_section;
  ByteWriter m_w;
  ByteWriter::LengthField m_sectionLength{};
  ByteWriter::LengthField m_programLoop{};
  int m_ends[MAX_SECTIONS] = {};
  int m_total = 0;
};

// Writes the program entries one after another into PlayListEntries and
// marks where each section's program loop ends.
class EntrySink {
 public:
  EntrySink(PlayListEntries& entries, const PlayListInput& input)
      : m_entries(entries), m_input(input), m_w(entries.bytes, sizeof entries.bytes) {}

  void Entry(const ProgramEntry& e, int i, size_t nameLen) {
    PutProgramEntry(m_w, e, nameLen, CachedAddress(e, i, m_input.addresses));
  }
  void NextSection() { m_entries.loopEnd[m_section++] = m_w.Size(); }
  void Finish() {
    m_entries.loopEnd[m_section] = m_w.Size();
    m_entries.sections = m_section + 1;
  }

 private:
  PlayListEntries& m_entries;
  const PlayListInput& m_input;
  ByteWriter m_w;
  int m_section = 0;
};

// The fit check's sink: placing is all it needs.
struct CountingSink {
  void Entry(const ProgramEntry&, int, size_t) {}
  void NextSection() {}
};

}  // namespace

int WriteTimeDescriptor(uint8_t* dest, const Clock& clock) {
  ByteWriter w(dest, TIME_DESCRIPTOR_LENGTH);
  PutTimeDescriptor(w, clock.Now());
  return static_cast<int>(w.Size());
}

int BuildSection(SectionBuffers& buffers, uint8_t sectionNumber, uint8_t& lastSection, int firstProgram,
                 const PlayListInput& input, const Clock& clock, int* leftOut) {
  const int section = sectionNumber < MAX_SECTIONS ? sectionNumber : MAX_SECTIONS - 1;
  SectionSink sink(buffers, section, lastSection, input, clock);
  const int left = PackPrograms(input.programs, firstProgram < 0 ? 0 : firstProgram, input.count, section, sink);
  const int total = sink.Finish();
  if (leftOut) *leftOut = left;
  return total;
}

bool PlayListFits(const ProgramEntry* programs, int count, int* leftOut) {
  CountingSink sink;
  const int left = PackPrograms(programs, 0, count, 0, sink);
  if (leftOut) *leftOut = left;
  return left == 0;
}

void EncodePlayListEntries(PlayListEntries& entries, const PlayListInput& input) {
  EntrySink sink(entries, input);
  entries.leftOut = PackPrograms(input.programs, 0, input.count, 0, sink);
  sink.Finish();
}

int BuildSections(SectionBuffers& buffers, const PlayListEntries& entries, uint8_t version, const Clock& clock,
                  uint8_t& lastSection) {
  // Every length is known before the header is written: the header goes
  // out front to back, then the program loop in one copy.
  const uint8_t versionByte = static_cast<uint8_t>(VERSION_BYTE_BASE | ((version & 0x1F) << 1));
  lastSection = static_cast<uint8_t>(entries.sections - 1);
  int total = 0;
  size_t from = 0;
  for (int s = 0; s < entries.sections; ++s) {
    const size_t loop = entries.loopEnd[s] - from;
    ByteWriter w(buffers[s], SECTION_SIZE);
    w.Put8(TABLE_ID);                                                                                 // table_id
    w.PutLength12(SECTION_SYNTAX_FLAGS, SECTION_HEADER_SIZE - SECTION_LENGTH_END + loop + CRC_SIZE);  // section_length
    w.Put16(TABLE_ID_EXTENSION);                            // table_id_extension
    w.Put8(versionByte);                                    // 01, version_number, current_next_indicator
    w.Put8(static_cast<uint8_t>(s));                        // section_number
    w.Put8(lastSection);                                    // last_section_number
    w.PutLength12(RESERVED_FLAGS, TIME_DESCRIPTOR_LENGTH);  // descriptor loop length
    PutTimeDescriptor(w, clock.Now());                      // the descriptor loop
    w.PutLength12(RESERVED_FLAGS, loop);                    // program loop length
    assert(w.Size() == SECTION_HEADER_SIZE);
    w.PutBytes(entries.bytes + from, loop);  // the program loop
    total += AppendCrc32(buffers[s], static_cast<int>(w.Size()));
    from = entries.loopEnd[s];
  }
  return total;
}
