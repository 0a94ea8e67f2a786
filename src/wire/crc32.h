// CRC-32/MPEG-2: polynomial 0x04C11DB7, MSB first, no reflection, initial
// value 0xFFFFFFFF, no final XOR. Run over a whole section, its own CRC
// included, it gives 0.
#pragma once

#include <cstddef>
#include <cstdint>

class Crc32 {
 public:
  void Update(const uint8_t* data, size_t len);
  uint32_t Value() const { return m_crc; }

  // The per-byte definition, crc = (crc << 8) ^ T[(crc >> 24) ^ b]; kept as
  // the reference the fast path is checked against.
  static uint32_t Reference(const uint8_t* data, size_t len);
  // The table path (sixteen bytes a step) from register `crc`, which every
  // processor takes and the fast path finishes with.
  static uint32_t UpdateTable(uint32_t crc, const uint8_t* data, size_t len);
  // Whether Update folds with the carry-less multiply on this processor.
  static bool FastPath();

 private:
  uint32_t m_crc = 0xFFFFFFFFu;
};

// CRC of a byte range; 0xFFFFFFFF for an empty one.
uint32_t Crc32Mpeg(const uint8_t* data, size_t len);

// Writes the CRC of buf[0..len) at buf[len..len+3], most significant byte
// first, and returns len + 4. A negative len writes nothing and returns 0.
int AppendCrc32(uint8_t* buf, int len);
