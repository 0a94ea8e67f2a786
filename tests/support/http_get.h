// A plain HTTP/1.0 GET on the loopback for tests of the endpoints: enough to
// read a status line and a body, nothing more.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

struct HttpResult {
  int status = 0;  // 0: no answer
  std::string headers;
  std::string body;
};

inline HttpResult HttpGet(uint16_t port, const std::string& path, const std::string& method = "GET") {
  HttpResult r;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return r;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string raw;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
    const std::string request = method + " " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
      char buf[4096];
      for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) break;  // bounded: a server that hangs fails the test
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        raw.append(buf, static_cast<size_t>(n));
      }
    }
  }
  close(fd);
  const size_t end = raw.find("\r\n\r\n");
  if (raw.compare(0, 9, "HTTP/1.1 ") != 0 && raw.compare(0, 9, "HTTP/1.0 ") != 0) return r;
  r.status = std::atoi(raw.c_str() + 9);
  r.headers = raw.substr(0, end);
  if (end != std::string::npos) r.body = raw.substr(end + 4);
  return r;
}
