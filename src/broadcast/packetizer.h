// Carries one play-list section in 188-byte transport packets on PID 0x0010
// and sends each packet as one datagram, with a 10 ms pause after every
// packet. Runs on the broadcast thread; allocates nothing.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

#include "wire/wire_format.h"

// The continuity counter of PID 0x0010: steps once per packet built, wraps
// 15 -> 0, never reset. Only the broadcast thread touches it.
extern uint8_t g_nContinuity;

// Builds the packets of the section that starts at `section` (its size is
// taken from its section_length) and hands each to emit(const uint8_t* packet).
// `continuity` is the counter to step, g_nContinuity on the air.
// Returns the number of packets.
template <class Emit>
int PacketizeSection(const uint8_t* section, uint8_t& continuity, Emit&& emit);

// Where a packet goes: one datagram per call.
class DatagramSocket {
 public:
  virtual ~DatagramSocket() = default;
  // Creates the socket bound to sendAddr (network byte order, 0 for any)
  // with multicast time-to-live 128. False when no socket could be created.
  virtual bool Open(uint32_t sendAddr) = 0;
  // 188 when sent, -1 when not.
  virtual int SendTo(const uint8_t* data, size_t len, const sockaddr_in& dest) = 0;
  virtual void ShutdownAndClose() = 0;
  // The system's reason (errno) for the last send that returned -1.
  virtual int LastError() const { return 0; }
};

// The pause after every packet.
class PacketPause {
 public:
  virtual ~PacketPause() = default;
  virtual void Pause() = 0;
  // How long Pause() takes, for the loop that folds the pause after a
  // section's last packet into its own timed wait. Fakes that do not sleep
  // say 0.
  virtual uint32_t Milliseconds() const { return 0; }
};

// A real 10 ms on the monotonic clock (not a rate: every packet waits its
// own 10 ms after its send).
class MonotonicPause : public PacketPause {
 public:
  void Pause() override;
  uint32_t Milliseconds() const override { return 10; }
};

// The destination of every packet: 224.1.1.1, port 10001.
sockaddr_in PlayListDestination();

// Opens `socket` for sendAddr and returns the destination.
sockaddr_in OpenSendSocket(DatagramSocket& socket, uint32_t sendAddr);

// Sends the section in `section` as packets, each followed by the pause;
// returns the sum of the sends (188 per packet sent, -1 per packet whose send
// failed). `continuity` steps once per packet built; the broadcast loop
// passes g_nContinuity. With pauseAfterLast false the caller owes the last
// packet's pause.
int SendSection(DatagramSocket& socket, PacketPause& pause, const sockaddr_in& destination, const uint8_t* section,
                uint8_t& continuity, bool pauseAfterLast = true);

template <class Emit>
int PacketizeSection(const uint8_t* section, uint8_t& continuity, Emit&& emit) {
  using namespace wire;
  int remaining = static_cast<int>(wire::SectionTotalSize(section));
  const uint8_t* read = section;
  bool first = true;
  int packets = 0;
  while (remaining > 0) {
    uint8_t packet[TS_PACKET_SIZE];
    __builtin_memset(packet, STUFFING, sizeof packet);
    size_t capacity = NEXT_PAYLOAD;
    size_t offset = 4;
    if (first) {
      capacity = FIRST_PAYLOAD;
      offset = 5;
      packet[4] = 0x00;  // pointer_field: the section starts right behind it
    }
    const size_t n = static_cast<size_t>(remaining) < capacity ? static_cast<size_t>(remaining) : capacity;
    packet[0] = TS_SYNC_BYTE;
    packet[1] = static_cast<uint8_t>((first ? TS_PAYLOAD_UNIT_START : 0x00) | (PID >> 8));
    packet[2] = static_cast<uint8_t>(PID & 0xFF);
    packet[3] = static_cast<uint8_t>(TS_PAYLOAD_ONLY | (continuity & 0x0F));
    continuity = static_cast<uint8_t>(continuity + 1 > 15 ? 0 : continuity + 1);
    __builtin_memcpy(packet + offset, read, n);
    read += n;
    first = false;
    emit(static_cast<const uint8_t*>(packet));
    ++packets;
    remaining -= static_cast<int>(n);
  }
  return packets;
}
