#include "wire/crc32.h"

#include <array>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

uint32_t Crc32::UpdateTable(uint32_t crc, const uint8_t* p, size_t len) {
  while (len >= kSlices) {
    crc ^= (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    crc = kT[15][crc >> 24] ^ kT[14][(crc >> 16) & 0xFF] ^ kT[13][(crc >> 8) & 0xFF] ^ kT[12][crc & 0xFF] ^
          kT[11][p[4]] ^ kT[10][p[5]] ^ kT[9][p[6]] ^ kT[8][p[7]] ^ kT[7][p[8]] ^ kT[6][p[9]] ^ kT[5][p[10]] ^
          kT[4][p[11]] ^ kT[3][p[12]] ^ kT[2][p[13]] ^ kT[1][p[14]] ^ kT[0][p[15]];
    p += kSlices;
    len -= kSlices;
  }
  while (len--) crc = (crc << 8) ^ kT[0][(crc >> 24) ^ *p++];
  return crc;
}

#if defined(__x86_64__)
namespace {

// x^n mod P, the remainder of degree below 32.
constexpr uint64_t XPowMod(unsigned n) {
  uint64_t r = 1;
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & 0x100000000u) r ^= 0x100000000u | kPoly;
  }
  return r;
}

// Folding a 128-bit remainder A = H x^64 + L forward by D bits:
// A x^D = H x^(D+64) + L x^D, each power replaced by its remainder, keeps the
// value congruent mod P in 96 bits. The high constant goes with H.
#define IPTV_FOLD_CONSTANTS(d) static_cast<long long>(XPowMod(d)), static_cast<long long>(XPowMod((d) + 64))
constexpr long long kFold128[2] = {IPTV_FOLD_CONSTANTS(128)};
constexpr long long kFold512[2] = {IPTV_FOLD_CONSTANTS(512)};
#undef IPTV_FOLD_CONSTANTS

[[gnu::target("pclmul,ssse3")]] inline __m128i Load(const uint8_t* p, __m128i swap, size_t at) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)), swap);
}

[[gnu::target("pclmul,ssse3")]] inline __m128i Fold(__m128i a, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x11), _mm_clmulepi64_si128(a, k, 0x00)), next);
}

// The CRC with the carry-less multiply, for len >= 64: the bytes are read as
// one polynomial, MSB first, folded four blocks of 16 at a time down to one
// 128-bit remainder congruent to what was read; the table finishes that
// remainder and the tail, which gives the same CRC because only the value
// mod P matters.
[[gnu::target("pclmul,ssse3")]] uint32_t UpdateClmul(uint32_t crc, const uint8_t* p, size_t len) {
  const __m128i swap = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  // The running CRC joins the first four bytes, as the register does.
  __m128i a0 = _mm_xor_si128(Load(p, swap, 0), _mm_set_epi32(static_cast<int>(crc), 0, 0, 0));
  __m128i a1 = Load(p, swap, 16), a2 = Load(p, swap, 32), a3 = Load(p, swap, 48);
  size_t at = 64;
  const __m128i k512 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kFold512));
  for (; at + 64 <= len; at += 64) {
    a0 = Fold(a0, k512, Load(p, swap, at));
    a1 = Fold(a1, k512, Load(p, swap, at + 16));
    a2 = Fold(a2, k512, Load(p, swap, at + 32));
    a3 = Fold(a3, k512, Load(p, swap, at + 48));
  }
  const __m128i k128 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kFold128));
  __m128i a = Fold(Fold(Fold(a0, k128, a1), k128, a2), k128, a3);
  for (; at + 16 <= len; at += 16) a = Fold(a, k128, Load(p, swap, at));
  alignas(16) uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), _mm_shuffle_epi8(a, swap));
  return Crc32::UpdateTable(Crc32::UpdateTable(0, rest, sizeof rest), p + at, len - at);
}

const bool kHaveClmul = [] {
  __builtin_cpu_init();  // may run before the library's own initialiser
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
}();

}  // namespace
#endif

void Crc32::Update(const uint8_t* p, size_t len) {
#if defined(__x86_64__)
  // Below four blocks the table is as quick.
  if (len >= 64 && kHaveClmul) {
    m_crc = UpdateClmul(m_crc, p, len);
    return;
  }
#endif
  m_crc = UpdateTable(m_crc, p, len);
}

bool Crc32::FastPath() {
#if defined(__x86_64__)
  return kHaveClmul;
#else
  return false;
#endif
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
