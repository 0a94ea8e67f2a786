// The system's one UDP socket for the play list (IPv4 datagrams).
#pragma once

#include "broadcast/packetizer.h"

class UdpSocket : public DatagramSocket {
 public:
  ~UdpSocket() override;
  // Binds to sendAddr, port 0. On Linux the bind does not choose the
  // interface multicast leaves by, so a non-zero sendAddr is also set as
  // IP_MULTICAST_IF. Neither result is looked at: a failed bind sends from
  // the system's choice, as before.
  bool Open(uint32_t sendAddr) override;
  int SendTo(const uint8_t* data, size_t len, const sockaddr_in& dest) override;
  void ShutdownAndClose() override;
  bool IsOpen() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

// True when an IPv4 datagram socket can be created at all: the start-up
// check that stands in for starting the sockets layer.
bool SocketsAvailable();
