#include "http/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "text/string_printf.h"

namespace {

// Few scrapers at a time are expected; the bound keeps a flood from costing
// the process more than a handful of sockets.
constexpr unsigned kConnectionLimit = 16;
constexpr unsigned kConnectionTimeoutSeconds = 10;

MHD_Result Queue(MHD_Connection* connection, const HttpReply& reply, const char* allow = nullptr) {
  MHD_Response* response =
      MHD_create_response_from_buffer(reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  if (allow != nullptr) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
  const MHD_Result result = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
  MHD_destroy_response(response);
  return result;
}

MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                     const char*, size_t* uploadSize, void**) {
  const auto* server = static_cast<const HttpServer*>(cls);
  if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
    *uploadSize = 0;  // a body is not read, only refused
    return Queue(connection, {405, "text/plain; charset=utf-8", "only GET and HEAD\n"}, "GET, HEAD");
  }
  return Queue(connection, server->Answer(url));
}

}  // namespace

bool ParseListenAddress(const std::string& text, sockaddr_in* out, std::string* error) {
  std::string host = "127.0.0.1";
  std::string port = text;
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  if (host == "*") {
    a.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) {
    *error = StringPrintf("'%s' is not an IPv4 address (ADDR:PORT, *:PORT or PORT)", host.c_str());
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(port.c_str(), &end, 10);
  if (port.empty() || port[0] < '0' || port[0] > '9' || *end != '\0' || errno != 0 || value > 65535) {
    *error = StringPrintf("'%s' is not a port (0 to 65535)", port.c_str());
    return false;
  }
  a.sin_port = htons(static_cast<uint16_t>(value));
  *out = a;
  return true;
}

HttpServer::HttpServer(HttpHandler handler) : m_handler(std::move(handler)) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(const std::string& listen, std::string* error) {
  sockaddr_in address{};
  if (m_daemon != nullptr || !ParseListenAddress(listen, &address, error)) {
    if (m_daemon != nullptr) *error = "already serving";
    return false;
  }
  // The socket is bound here rather than by the library so that a refusal
  // comes with its reason (a port in use, an address not on this machine).
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = StringPrintf("cannot open a socket: %s", std::strerror(errno));
    return false;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    *error = StringPrintf("cannot listen on %s: %s", listen.c_str(), std::strerror(errno));
    close(fd);
    return false;
  }
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
  m_port = ntohs(bound.sin_port);
  m_daemon = MHD_start_daemon(MHD_USE_AUTO | MHD_USE_INTERNAL_POLLING_THREAD, 0, nullptr, nullptr, &OnRequest, this,
                              MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
                              MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_END);
  if (m_daemon == nullptr) {
    *error = StringPrintf("cannot start the HTTP server on %s", listen.c_str());
    close(fd);
    return false;
  }
  return true;
}

void HttpServer::Stop() {
  if (m_daemon == nullptr) return;
  MHD_stop_daemon(m_daemon);  // joins the thread and closes the listening socket
  m_daemon = nullptr;
}
