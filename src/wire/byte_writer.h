// Writes a section front to back into a fixed buffer: big-endian fields of
// 8, 16 and 32 bits, byte runs, and 12-bit length fields that are reserved
// where they stand and filled once what they count has been written. The
// section encoder uses it instead of byte offsets.
//
// The writer checks nothing at run time: whoever packs decides first what
// fits (the encoder's packing rule keeps every section within 1024 bytes),
// and the asserts state that invariant. Everything is inline so that a
// section is written with the same stores as by hand.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "wire/wire_format.h"

namespace wire {

class ByteWriter {
 public:
  // A 12-bit length field reserved by ReserveLength12: where it stands and
  // the four bits above it.
  struct LengthField {
    size_t at;
    uint8_t flags;
  };

  ByteWriter(uint8_t* buffer, size_t capacity) : m_begin(buffer), m_pos(buffer), m_end(buffer + capacity) {}

  void Put8(uint8_t v) {
    assert(Fits(1));
    *m_pos++ = v;
  }
  void Put16(uint16_t v) {
    assert(Fits(2));
    m_pos[0] = static_cast<uint8_t>(v >> 8);
    m_pos[1] = static_cast<uint8_t>(v);
    m_pos += 2;
  }
  void Put32(uint32_t v) {
    assert(Fits(4));
    m_pos[0] = static_cast<uint8_t>(v >> 24);
    m_pos[1] = static_cast<uint8_t>(v >> 16);
    m_pos[2] = static_cast<uint8_t>(v >> 8);
    m_pos[3] = static_cast<uint8_t>(v);
    m_pos += 4;
  }
  void PutBytes(const void* data, size_t n) {
    assert(Fits(n));
    std::memcpy(m_pos, data, n);
    m_pos += n;
  }

  // Skips the two bytes of a 12-bit length whose top four bits will be
  // `flags` (reserved bits, or a section's syntax bits).
  LengthField ReserveLength12(uint8_t flags) {
    assert(Fits(LENGTH12_SIZE) && flags <= 0x0F);
    const LengthField field{Size(), flags};
    m_pos += LENGTH12_SIZE;
    return field;
  }
  // Fills `field` with the number of bytes written since it, plus
  // `trailing` bytes that are still to come behind them (a section's CRC).
  void FillLength12(LengthField field, size_t trailing = 0) {
    const size_t length = Size() - (field.at + LENGTH12_SIZE) + trailing;
    assert(length <= 0x0FFF);
    m_begin[field.at] = static_cast<uint8_t>(field.flags << 4 | length >> 8);
    m_begin[field.at + 1] = static_cast<uint8_t>(length);
  }

  // A 12-bit length already known, under `flags`.
  void PutLength12(uint8_t flags, size_t length) {
    assert(Fits(LENGTH12_SIZE) && flags <= 0x0F && length <= 0x0FFF);
    m_pos[0] = static_cast<uint8_t>(flags << 4 | length >> 8);
    m_pos[1] = static_cast<uint8_t>(length);
    m_pos += LENGTH12_SIZE;
  }

  bool Fits(size_t n) const { return n <= static_cast<size_t>(m_end - m_pos); }
  // Bytes written so far.
  size_t Size() const { return static_cast<size_t>(m_pos - m_begin); }

 private:
  uint8_t* m_begin;
  uint8_t* m_pos;
  uint8_t* m_end;
};

}  // namespace wire
