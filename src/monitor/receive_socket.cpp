#include "monitor/receive_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "wire/wire_format.h"

int64_t MonotonicNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

ReceiveSocket::~ReceiveSocket() { Close(); }

void ReceiveSocket::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

bool ReceiveSocket::Open(uint32_t ifaceAddr, std::string* error) {
  Close();
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    Close();
    return false;
  };
  m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) return fail("socket");
  const int one = 1;
  // Several receivers (an operator's and a test's) may listen at once.
  (void)::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // A burst of six packets must not be lost to a small default buffer.
  const int rcvbuf = 1 << 20;
  (void)::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(wire::GROUP_PORT);
  // Bound to the group, so datagrams to other groups on the port stay out.
  local.sin_addr.s_addr = inet_addr(wire::GROUP_ADDRESS);
  if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return fail("bind");
  ip_mreq mreq{};
  mreq.imr_multiaddr.s_addr = inet_addr(wire::GROUP_ADDRESS);
  mreq.imr_interface.s_addr = ifaceAddr;
  if (::setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) return fail("join 224.1.1.1");
  return true;
}

int ReceiveSocket::Receive(uint8_t* buf, size_t size, int timeoutMs, size_t* got, int64_t* arrivalNs,
                           uint32_t* sourceAddr) {
  if (m_fd < 0) return -1;
  pollfd pfd{m_fd, POLLIN, 0};
  const int r = ::poll(&pfd, 1, timeoutMs);
  if (r == 0 || (r < 0 && errno == EINTR)) return 0;
  if (r < 0) return -1;
  // MSG_TRUNC: the real length, so an oversized datagram is counted as bad.
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  const ssize_t n = ::recvfrom(m_fd, buf, size, MSG_TRUNC | MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
  if (arrivalNs) *arrivalNs = MonotonicNs();
  if (n < 0) return errno == EINTR || errno == EAGAIN ? 0 : -1;
  if (sourceAddr) *sourceAddr = from.sin_addr.s_addr;
  *got = static_cast<size_t>(n);
  return 1;
}
