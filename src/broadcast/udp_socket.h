// The system's one UDP socket for the play list (IPv4 datagrams).
#pragma once

#include "broadcast/packetizer.h"

class UdpSocket : public DatagramSocket {
 public:
  ~UdpSocket() override;
  // Binds to sendAddr, port 0. On Linux the bind does not choose the
  // interface multicast leaves by, so a non-zero sendAddr is also set as
  // IP_MULTICAST_IF. Neither result is looked at: a failed bind sends from
  // the system's choice, as before. A send that fails because the interface
  // went away looks the address up again, so that an interface deleted and
  // created again with the same address carries the air again by itself.
  bool Open(uint32_t sendAddr) override;
  int SendTo(const uint8_t* data, size_t len, const sockaddr_in& dest) override;
  void ShutdownAndClose() override;
  int LastError() const override { return m_lastError; }
  bool IsOpen() const { return m_fd >= 0; }

 private:
  // Sets IP_MULTICAST_IF to the send address. The kernel keeps the index of
  // the interface that held the address at that moment.
  bool PinInterface();

  int m_fd = -1;
  uint32_t m_sendAddr = 0;
  int m_lastError = 0;
};

// Errors by which a send says that its interface went away.
bool InterfaceGone(int error);

// True when an IPv4 datagram socket can be created at all: the start-up
// check that stands in for starting the sockets layer.
bool SocketsAvailable();
