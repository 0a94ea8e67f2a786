// The input of the monitor's packet fuzz target: a sequence of datagrams,
// each with the sender it came from. Shared by the target and the program
// that writes its seeds.
//
// Each record starts with one byte h; h & 3 picks the source (10.0.0.1 to
// 10.0.0.4) and h >> 6 the kind:
//   0, 1  a datagram of any size: one length byte, then that many bytes;
//   2     one 188-byte packet: the next 188 bytes (0xFF when input runs out);
//   3     one section, carried in packets of the source's own continuity
//         counter: two length bytes (big-endian, cut to 3..4096), then the
//         section's bytes. The harness writes the length into bytes 1 and 2,
//         and with h & 4 (sections of 8 bytes or more) the CRC, so the fuzzer
//         gets past the CRC check.
#pragma once

#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "wire/crc32.h"
#include "broadcast/packetizer.h"

namespace monitor_fuzz {

inline uint32_t SourceAddress(unsigned index) { return htonl(0x0A000001u + (index & 3)); }

// Calls deliver(datagram, size, source) for every datagram the input holds.
inline void ForEachDatagram(const uint8_t* data, size_t size,
                            const std::function<void(const uint8_t*, size_t, uint32_t)>& deliver) {
  uint8_t cc[4] = {};
  size_t at = 0;
  auto next = [&]() -> int { return at < size ? data[at++] : -1; };
  while (at < size) {
    const uint8_t h = data[at++];
    const unsigned src = h & 3;
    const uint32_t from = SourceAddress(src);
    switch (h >> 6) {
      case 0:
      case 1: {
        const int n = next();
        if (n < 0) return;
        const size_t len = static_cast<size_t>(n) < size - at ? static_cast<size_t>(n) : size - at;
        deliver(data + at, len, from);
        at += len;
        break;
      }
      case 2: {
        uint8_t packet[wire::TS_PACKET_SIZE];
        for (uint8_t& b : packet) {
          const int v = next();
          b = v < 0 ? wire::STUFFING : static_cast<uint8_t>(v);
        }
        deliver(packet, sizeof packet, from);
        break;
      }
      default: {
        const int hi = next(), lo = next();
        if (lo < 0) return;
        size_t total = static_cast<size_t>(hi << 8 | lo) % 4094 + 3;  // 3..4096
        std::vector<uint8_t> section(total, wire::STUFFING);
        for (size_t i = 0; i < total && at < size; ++i) section[i] = data[at++];
        section[1] = static_cast<uint8_t>((section[1] & 0xF0) | ((total - 3) >> 8));
        section[2] = static_cast<uint8_t>(total - 3);
        if ((h & 4) && total >= 8) AppendCrc32(section.data(), static_cast<int>(total - 4));
        PacketizeSection(section.data(), cc[src], [&](const uint8_t* p) { deliver(p, wire::TS_PACKET_SIZE, from); });
        break;
      }
    }
  }
}

// The record of one whole section sent by source `src`, CRC left to the
// harness when fixCrc (seeds write real CRCs).
inline void AppendSectionRecord(std::vector<uint8_t>& out, unsigned src, const uint8_t* section, size_t total,
                                bool fixCrc) {
  out.push_back(static_cast<uint8_t>(0xC0 | (fixCrc ? 4 : 0) | (src & 3)));
  const size_t code = total - 3;  // total = code % 4094 + 3
  out.push_back(static_cast<uint8_t>(code >> 8));
  out.push_back(static_cast<uint8_t>(code));
  out.insert(out.end(), section, section + total);
}

inline void AppendPacketRecord(std::vector<uint8_t>& out, unsigned src, const uint8_t* packet) {
  out.push_back(static_cast<uint8_t>(0x80 | (src & 3)));
  out.insert(out.end(), packet, packet + wire::TS_PACKET_SIZE);
}

}  // namespace monitor_fuzz
