#pragma once
// A TCP socket over POSIX sockets or Winsock, always in non-blocking mode: every wait is a
// bounded select/poll, so no call blocks longer than the time-out it is given. IPv4 only.
// The platform headers stay in Socket.cpp.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillet {

class Socket {
 public:
  Socket() = default;  // closed
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Resolves host and tries its addresses in turn until one accepts; the time-out covers
  // all attempts together. Closed socket when none answers in time.
  static Socket Connect(const std::string& host, std::uint16_t port, int timeoutMs);
  // A listening socket on 127.0.0.1; port 0 picks a free one (see LocalPort).
  static Socket ListenLoopback(std::uint16_t port, int backlog);

  bool IsOpen() const { return handle_ != kClosed; }
  void Close();
  std::uint16_t LocalPort() const;

  // A connection waiting on this listening socket, or a closed socket when none arrives
  // within timeoutMs.
  Socket Accept(int timeoutMs);

  // Sends all of data unless the peer goes away or the buffer stays full for timeoutMs.
  bool SendAll(std::string_view data, int timeoutMs);

  // Receives up to size bytes, waiting at most timeoutMs for the first one.
  enum class Status { kData, kClosed, kTimeout, kError };
  struct ReceiveResult {
    Status status;
    std::size_t bytes;  // > 0 exactly when status is kData
  };
  ReceiveResult Receive(char* buffer, std::size_t size, int timeoutMs);

  // Half-closes the sending direction (the peer reads end of stream).
  void ShutdownSend();

 private:
  // Wide enough for a POSIX descriptor and a Winsock SOCKET (a pointer-sized integer).
  using Handle = std::intptr_t;
  static constexpr Handle kClosed = -1;
  explicit Socket(Handle handle) : handle_(handle) {}
  Handle handle_ = kClosed;
};

}  // namespace quillet
