// The play list on the wire: the constants that the section encoder, the
// packetizer and the monitor's decoder share.
//
// Sections follow ISO/IEC 13818-1 private sections with section syntax, laid
// out like the network information section of ETSI EN 300 468 (table id
// 0x40, network id 1). Departures: the network descriptor loop holds a time
// descriptor (tag 0xBC) with plain binary values, each transport-stream entry
// holds one program descriptor (tag 0xBB), and byte 5 carries 01 in its two
// reserved bits. Packets follow ISO/IEC 13818-1 transport packets, payload
// only, one section per payload unit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wire {

inline constexpr uint8_t TABLE_ID = 0x40;
inline constexpr uint16_t TABLE_ID_EXTENSION = 0x0001;
// Byte 5: bit 6 set, version in bits 5..1, current/next 1.
inline constexpr uint8_t VERSION_BYTE_BASE = 0x41;
inline constexpr uint8_t TIME_DESCRIPTOR_TAG = 0xBC;
inline constexpr uint8_t TIME_DESCRIPTOR_LENGTH = 8;  // tag, length and six values
inline constexpr uint8_t PROGRAM_DESCRIPTOR_TAG = 0xBB;

inline constexpr size_t SECTION_HEADER_SIZE = 20;  // up to the program loop
inline constexpr size_t CRC_SIZE = 4;
inline constexpr size_t PROGRAM_ENTRY_FIXED = 17;  // an entry is 17 + name length
inline constexpr size_t MAX_NAME_LENGTH = 127;

inline constexpr uint16_t PID = 0x0010;
inline constexpr size_t TS_PACKET_SIZE = 188;
inline constexpr uint8_t TS_SYNC_BYTE = 0x47;
inline constexpr size_t FIRST_PAYLOAD = 183;  // after the pointer field
inline constexpr size_t NEXT_PAYLOAD = 184;
inline constexpr uint8_t STUFFING = 0xFF;

inline constexpr const char* GROUP_ADDRESS = "224.1.1.1";
inline constexpr uint16_t GROUP_PORT = 10001;
inline constexpr uint8_t MULTICAST_TTL = 128;

}  // namespace wire

// Receivers keep six section buffers of 1024 bytes; a play list never needs
// more.
inline constexpr int MAX_SECTIONS = 6;
inline constexpr int SECTION_SIZE = 1024;
