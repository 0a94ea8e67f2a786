#include "broadcast/udp_socket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

UdpSocket::~UdpSocket() { ShutdownAndClose(); }

bool UdpSocket::Open(uint32_t sendAddr) {
  ShutdownAndClose();
  m_sendAddr = sendAddr;
  m_lastError = 0;
  m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) {
    m_lastError = errno;  // every send fails for this reason
    return false;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = 0;
  local.sin_addr.s_addr = sendAddr;
  (void)::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  (void)PinInterface();
  const unsigned char ttl = wire::MULTICAST_TTL;
  (void)::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
  return true;
}

int UdpSocket::SendTo(const uint8_t* data, size_t len, const sockaddr_in& dest) {
  if (m_fd < 0) {
    if (m_lastError == 0) m_lastError = EBADF;
    return -1;
  }
  const ssize_t r = ::sendto(m_fd, data, len, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
  if (r >= 0) return static_cast<int>(r);
  m_lastError = errno;
  // The pinned index died with its interface; one created again with the
  // same address has a new index. Looking the address up again costs one
  // call per lost packet and fails harmlessly while the address is absent.
  if (m_sendAddr != 0 && InterfaceGone(m_lastError)) (void)PinInterface();
  return -1;
}

bool UdpSocket::PinInterface() {
  if (m_sendAddr == 0) return true;
  in_addr ifaddr{};
  ifaddr.s_addr = m_sendAddr;
  return ::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &ifaddr, sizeof ifaddr) == 0;
}

bool InterfaceGone(int error) { return error == ENODEV || error == ENXIO || error == EADDRNOTAVAIL; }

void UdpSocket::ShutdownAndClose() {
  if (m_fd < 0) return;
  ::shutdown(m_fd, SHUT_RDWR);
  ::close(m_fd);
  m_fd = -1;
}

bool SocketsAvailable() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}
