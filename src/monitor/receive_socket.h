// The monitor's socket: joins the play list's group 224.1.1.1 on port 10001
// the way a set-top box does, and takes one datagram at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ReceiveSocket {
 public:
  ReceiveSocket() = default;
  ~ReceiveSocket();
  ReceiveSocket(const ReceiveSocket&) = delete;
  ReceiveSocket& operator=(const ReceiveSocket&) = delete;

  // Joins the group on the interface that owns ifaceAddr (network byte
  // order; 0 lets the system choose). False with the reason in *error.
  bool Open(uint32_t ifaceAddr, std::string* error = nullptr);
  // Waits up to timeoutMs (-1 for ever) for one datagram. Returns 1 with its
  // size in *got (datagrams longer than `size` are cut), 0 when the time ran
  // out or a signal came, -1 on a socket error. *arrivalNs is the monotonic
  // clock right after it arrived; *sourceAddr, when asked for, the sender's
  // address (network byte order), to tell which interface a list left from.
  int Receive(uint8_t* buf, size_t size, int timeoutMs, size_t* got, int64_t* arrivalNs,
              uint32_t* sourceAddr = nullptr);
  void Close();

 private:
  int m_fd = -1;
};

int64_t MonotonicNs();
