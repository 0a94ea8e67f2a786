#include "broadcast/packetizer.h"

#include <arpa/inet.h>

#include <cerrno>
#include <ctime>

uint8_t g_nContinuity = 0;

void MonotonicPause::Pause() {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_nsec += 10'000'000;
  if (deadline.tv_nsec >= 1'000'000'000) {
    deadline.tv_nsec -= 1'000'000'000;
    ++deadline.tv_sec;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

sockaddr_in PlayListDestination() {
  sockaddr_in dest{};
  dest.sin_family = AF_INET;
  dest.sin_port = htons(wire::GROUP_PORT);
  dest.sin_addr.s_addr = inet_addr(wire::GROUP_ADDRESS);
  return dest;
}

sockaddr_in OpenSendSocket(DatagramSocket& socket, uint32_t sendAddr) {
  sockaddr_in dest = PlayListDestination();
  socket.Open(sendAddr);
  return dest;
}

int SendSection(DatagramSocket& socket, PacketPause& pause, const sockaddr_in& destination, const uint8_t* section,
                uint8_t& continuity, bool pauseAfterLast) {
  int sum = 0;
  bool first = true;
  PacketizeSection(section, continuity, [&](const uint8_t* packet) {
    // The pause after a packet, taken before the next one so that the last
    // packet's can be left to the caller.
    if (!first) pause.Pause();
    first = false;
    sum += socket.SendTo(packet, wire::TS_PACKET_SIZE, destination);
  });
  if (pauseAfterLast) pause.Pause();
  return sum;
}
