#include "wire/crc32.h"

#include <array>

namespace {

constexpr uint32_t kPoly = 0x04C11DB7u;

constexpr size_t kSlices = 16;

// T[k][i]: the CRC contribution of byte i followed by k zero bytes, so that
// sixteen bytes can be folded in per step (slicing by sixteen, MSB first).
constexpr std::array<std::array<uint32_t, 256>, kSlices> MakeTables() {
  std::array<std::array<uint32_t, 256>, kSlices> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int b = 0; b < 8; ++b) c = (c & 0x80000000u) ? (c << 1) ^ kPoly : (c << 1);
    t[0][i] = c;
  }
  for (size_t k = 1; k < kSlices; ++k)
    for (size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
  return t;
}

constexpr auto kT = MakeTables();

}  // namespace

uint32_t Crc32::Reference(const uint8_t* data, size_t len) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < len; ++i) crc = (crc << 8) ^ kT[0][(crc >> 24) ^ data[i]];
  return crc;
}

void Crc32::Update(const uint8_t* p, size_t len) {
  uint32_t crc = m_crc;
  while (len >= kSlices) {
    crc ^= (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    crc = kT[15][crc >> 24] ^ kT[14][(crc >> 16) & 0xFF] ^ kT[13][(crc >> 8) & 0xFF] ^ kT[12][crc & 0xFF] ^
          kT[11][p[4]] ^ kT[10][p[5]] ^ kT[9][p[6]] ^ kT[8][p[7]] ^ kT[7][p[8]] ^ kT[6][p[9]] ^ kT[5][p[10]] ^
          kT[4][p[11]] ^ kT[3][p[12]] ^ kT[2][p[13]] ^ kT[1][p[14]] ^ kT[0][p[15]];
    p += kSlices;
    len -= kSlices;
  }
  while (len--) crc = (crc << 8) ^ kT[0][(crc >> 24) ^ *p++];
  m_crc = crc;
}

uint32_t Crc32Mpeg(const uint8_t* data, size_t len) {
  Crc32 c;
  c.Update(data, len);
  return c.Value();
}

int AppendCrc32(uint8_t* buf, int len) {
  if (len < 0) return 0;
  uint32_t crc = Crc32Mpeg(buf, static_cast<size_t>(len));
  buf[len] = static_cast<uint8_t>(crc >> 24);
  buf[len + 1] = static_cast<uint8_t>(crc >> 16);
  buf[len + 2] = static_cast<uint8_t>(crc >> 8);
  buf[len + 3] = static_cast<uint8_t>(crc);
  return len + 4;
}
