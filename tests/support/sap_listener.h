// A small SAP receiver for tests: decodes announcements (RFC 2974 header,
// SDP payload) independently of the announcer's code, and listens on
// 224.2.127.254:9875 inside the private network namespace.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace saptest {

struct Message {
  bool deletion = false;
  uint16_t hash = 0;
  std::string origin;       // dotted
  std::string payloadType;  // empty when absent
  std::string payload;
  std::string source;  // the datagram's source address, dotted (set by Listener)
};

// Decodes one datagram; nullopt when it is not a plain SAPv1 IPv4 message.
inline std::optional<Message> Decode(const std::vector<uint8_t>& d) {
  if (d.size() < 8) return std::nullopt;
  const uint8_t flags = d[0];
  if ((flags >> 5) != 1) return std::nullopt;  // version
  if (flags & 0x10) return std::nullopt;       // IPv6 origin: not ours
  if (flags & 0x03) return std::nullopt;       // encrypted or compressed
  Message m;
  m.deletion = (flags & 0x04) != 0;
  const size_t auth = size_t{d[1]} * 4;
  m.hash = static_cast<uint16_t>(d[2] << 8 | d[3]);
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, d.data() + 4, text, sizeof text);
  m.origin = text;
  size_t at = 8 + auth;
  if (at > d.size()) return std::nullopt;
  std::string rest(d.begin() + static_cast<std::ptrdiff_t>(at), d.end());
  // A payload type is present unless the payload starts with "v=0".
  if (rest.rfind("v=0", 0) != 0 && rest.rfind("o=", 0) != 0) {
    const size_t zero = rest.find('\0');
    if (zero == std::string::npos) return std::nullopt;
    m.payloadType = rest.substr(0, zero);
    rest.erase(0, zero + 1);
  }
  m.payload = rest;
  return m;
}

// Every line of an SDP text that starts with "<type>=", without the prefix.
inline std::vector<std::string> Lines(const std::string& sdp, char type) {
  std::vector<std::string> out;
  size_t from = 0;
  while (from < sdp.size()) {
    size_t end = sdp.find("\r\n", from);
    if (end == std::string::npos) end = sdp.size();
    if (end - from >= 2 && sdp[from] == type && sdp[from + 1] == '=')
      out.push_back(sdp.substr(from + 2, end - from - 2));
    from = end + 2;
  }
  return out;
}

inline std::string Line(const std::string& sdp, char type) {
  const auto all = Lines(sdp, type);
  return all.empty() ? std::string() : all.front();
}

// The value of "a=<name>:" or empty.
inline std::string Attribute(const std::string& sdp, const std::string& name) {
  for (const std::string& a : Lines(sdp, 'a'))
    if (a.rfind(name + ":", 0) == 0) return a.substr(name.size() + 1);
  return std::string();
}

// Joined to the SAP group on the loopback.
class Listener {
 public:
  Listener() {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return;
    const int one = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const int big = 1 << 20;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(9875);
    local.sin_addr.s_addr = inet_addr("224.2.127.254");
    ip_mreq mreq{};
    mreq.imr_multiaddr.s_addr = inet_addr("224.2.127.254");
    mreq.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    m_ok = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
           ::setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) == 0;
  }
  ~Listener() {
    if (m_fd >= 0) ::close(m_fd);
  }
  bool Ok() const { return m_ok; }

  // The next message, or nullopt after `ms` milliseconds without one.
  std::optional<Message> Next(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) return std::nullopt;
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      std::vector<uint8_t> buf(65536);
      sockaddr_in from{};
      socklen_t fromLen = sizeof from;
      const ssize_t n = ::recvfrom(m_fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
      if (n <= 0) continue;
      buf.resize(static_cast<size_t>(n));
      auto m = Decode(buf);
      if (!m) continue;
      char text[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
      m->source = text;
      return m;
    }
  }

  // Messages until `count` were taken or `ms` passed without a new one.
  std::vector<Message> Take(size_t count, int ms) {
    std::vector<Message> out;
    while (out.size() < count)
      if (auto m = Next(ms))
        out.push_back(*m);
      else
        break;
    return out;
  }

 private:
  int m_fd = -1;
  bool m_ok = false;
};

}  // namespace saptest
