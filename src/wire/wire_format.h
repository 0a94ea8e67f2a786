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

// Section header, field by field in wire order. `..._AT` is a field's byte
// offset from the table id, for readers; the encoder writes the fields in
// this order. Two-byte fields are big-endian; a 12-bit length fills the low
// bits of its two bytes, under four flag bits.
//
// table_id
inline constexpr uint8_t TABLE_ID = 0x40;
// section_syntax_indicator 1, private bit 1, reserved 11; section_length:
// the bytes after it, CRC included
inline constexpr size_t SECTION_LENGTH_AT = 1;
inline constexpr uint8_t SECTION_SYNTAX_FLAGS = 0xF;  // the four bits above section_length
inline constexpr uint8_t SECTION_SYNTAX_INDICATOR = 0x80;
inline constexpr size_t SECTION_LENGTH_END = 3;  // the bytes section_length does not count
// table_id_extension: the network id
inline constexpr size_t TABLE_ID_EXTENSION_AT = 3;
inline constexpr uint16_t TABLE_ID_EXTENSION = 0x0001;
// 01 (where reserved bits would be 11), version_number (5 bits),
// current_next_indicator
inline constexpr size_t VERSION_AT = 5;
inline constexpr uint8_t CURRENT_NEXT_INDICATOR = 0x01;
inline constexpr uint8_t VERSION_BYTE_BASE = 0x40 | CURRENT_NEXT_INDICATOR;  // 0x41
// section_number, last_section_number
inline constexpr size_t SECTION_NUMBER_AT = 6;
inline constexpr size_t LAST_SECTION_NUMBER_AT = 7;
// reserved 1111, descriptor loop length; the descriptor loop (the time
// descriptor)
inline constexpr size_t DESCRIPTOR_LOOP_LENGTH_AT = 8;
inline constexpr size_t DESCRIPTOR_LOOP_AT = 10;
// reserved 1111, program loop length; the program loop (program entries)
// CRC_32
inline constexpr size_t CRC_SIZE = 4;

// The four bits above every 12-bit length but section_length, and the
// length field's size.
inline constexpr uint8_t RESERVED_FLAGS = 0xF;
inline constexpr size_t LENGTH12_SIZE = 2;

// Every descriptor: tag, length of what follows, body.
inline constexpr size_t DESCRIPTOR_HEADER_SIZE = 2;

// Time descriptor, the one entry of the descriptor loop: year % 100, month,
// day, hour, minute, second, one plain binary byte each.
inline constexpr uint8_t TIME_DESCRIPTOR_TAG = 0xBC;
inline constexpr uint8_t TIME_VALUES = 6;
inline constexpr uint8_t TIME_DESCRIPTOR_LENGTH = DESCRIPTOR_HEADER_SIZE + TIME_VALUES;  // 8

// Program entry, one per program in the program loop: program_number (2),
// group (2), reserved 1111 and descriptors length (12 bits), then the
// descriptors: one program descriptor.
inline constexpr size_t ENTRY_NUMBER_AT = 0;
inline constexpr size_t ENTRY_GROUP_AT = 2;
inline constexpr size_t ENTRY_DESCRIPTORS_LENGTH_AT = 4;
inline constexpr size_t ENTRY_HEADER_SIZE = 6;
// Program descriptor body: address (4, octets reversed), port (2), name
// length (1), name, a zero byte, HD (1).
inline constexpr uint8_t PROGRAM_DESCRIPTOR_TAG = 0xBB;
inline constexpr size_t PROGRAM_ADDRESS_AT = 0;
inline constexpr size_t PROGRAM_PORT_AT = 4;
inline constexpr size_t PROGRAM_NAME_LENGTH_AT = 6;
inline constexpr size_t PROGRAM_NAME_AT = 7;
inline constexpr size_t PROGRAM_DESCRIPTOR_FIXED = 9;  // body bytes besides the name
inline constexpr size_t MAX_NAME_LENGTH = 127;

// Sizes the packing depends on.
inline constexpr size_t SECTION_HEADER_SIZE =
    DESCRIPTOR_LOOP_AT + TIME_DESCRIPTOR_LENGTH + LENGTH12_SIZE;  // 20: up to the program loop
inline constexpr size_t PROGRAM_ENTRY_FIXED =
    ENTRY_HEADER_SIZE + DESCRIPTOR_HEADER_SIZE + PROGRAM_DESCRIPTOR_FIXED;  // 17: an entry is 17 + name length

// A 12-bit length field's value (the low four bits of `p[0]`, then `p[1]`).
constexpr size_t Length12(const uint8_t* p) { return static_cast<size_t>((p[0] & 0x0F) << 8 | p[1]); }

// Whole size of the section that starts at `section`, from its
// section_length.
constexpr size_t SectionTotalSize(const uint8_t* section) {
  return Length12(section + SECTION_LENGTH_AT) + SECTION_LENGTH_END;
}

inline constexpr uint16_t PID = 0x0010;
inline constexpr size_t TS_PACKET_SIZE = 188;
inline constexpr uint8_t TS_SYNC_BYTE = 0x47;
inline constexpr uint8_t TS_PAYLOAD_UNIT_START = 0x40;  // byte 1: a section starts in this packet
inline constexpr uint8_t TS_PAYLOAD_ONLY = 0x10;        // byte 3: adaptation_field_control 01
inline constexpr size_t FIRST_PAYLOAD = 183;            // after the pointer field
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
