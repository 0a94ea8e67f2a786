#include "broadcast/udp_socket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

UdpSocket::~UdpSocket() { ShutdownAndClose(); }

bool UdpSocket::Open(uint32_t sendAddr) {
  ShutdownAndClose();
  m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) return false;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = 0;
  local.sin_addr.s_addr = sendAddr;
  (void)::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  if (sendAddr != 0) {
    in_addr ifaddr{};
    ifaddr.s_addr = sendAddr;
    (void)::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &ifaddr, sizeof ifaddr);
  }
  const unsigned char ttl = wire::MULTICAST_TTL;
  (void)::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
  return true;
}

int UdpSocket::SendTo(const uint8_t* data, size_t len, const sockaddr_in& dest) {
  if (m_fd < 0) return -1;
  ssize_t r = ::sendto(m_fd, data, len, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
  return r < 0 ? -1 : static_cast<int>(r);
}

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
