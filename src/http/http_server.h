// A read-only HTTP endpoint served from a thread of its own (libmicrohttpd's
// internal polling thread), so whoever owns it keeps its own loop as it is.
// Each GET is answered by a handler that must only read a snapshot: it runs
// on the server's thread.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <string>

struct MHD_Daemon;

struct HttpReply {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
};

// The path of the request (no query) to the reply.
using HttpHandler = std::function<HttpReply(const std::string& path)>;

// "PORT" (on the loopback), "ADDR:PORT" or "*:PORT" (every interface), IPv4.
// False with the reason in *error.
bool ParseListenAddress(const std::string& text, sockaddr_in* out, std::string* error);

class HttpServer {
 public:
  explicit HttpServer(HttpHandler handler);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds `listen` (see ParseListenAddress) and starts serving. False with
  // the reason in *error; at most once per object.
  bool Start(const std::string& listen, std::string* error);
  // Stops the thread and closes the socket. Safe without a Start.
  void Stop();
  bool Running() const { return m_daemon != nullptr; }
  // The port bound, useful after asking for port 0.
  uint16_t Port() const { return m_port; }

  // For the server's callback only.
  HttpReply Answer(const std::string& path) const { return m_handler(path); }

 private:
  HttpHandler m_handler;
  MHD_Daemon* m_daemon = nullptr;
  uint16_t m_port = 0;
};
