#include "net/Socket.h"

#include <chrono>
#include <climits>
#include <memory>
#include <string>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace quillet {
namespace {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32

using Native = SOCKET;
constexpr int kSendFlags = 0;
constexpr int kShutdownSend = SD_SEND;

bool NetworkReady() {
  // Started on first use and kept for the life of the process.
  struct Winsock {
    bool ok = false;
    Winsock() {
      WSADATA data;
      ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Winsock() {
      if (ok) WSACleanup();
    }
  };
  static Winsock winsock;
  return winsock.ok;
}

void CloseNative(Native s) { closesocket(s); }
bool SetNonBlocking(Native s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}
int LastError() { return WSAGetLastError(); }
bool WouldBlock(int error) { return error == WSAEWOULDBLOCK; }
bool Interrupted(int error) { return error == WSAEINTR; }
bool ConnectPending(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }

// 1 ready, 0 time-out, -1 failure. Winsock reports a refused non-blocking connect only in
// the except set, so a connect waits on both.
int Wait(Native s, bool forWrite, bool forConnect, int timeoutMs) {
  fd_set primary;
  fd_set failed;
  FD_ZERO(&primary);
  FD_ZERO(&failed);
  FD_SET(s, &primary);
  FD_SET(s, &failed);
  timeval tv;
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  const int n =
      select(0, forWrite ? nullptr : &primary, forWrite ? &primary : nullptr, forConnect ? &failed : nullptr, &tv);
  return n > 0 ? 1 : (n == 0 ? 0 : -1);
}

#else

using Native = int;
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kShutdownSend = SHUT_WR;

bool NetworkReady() { return true; }
void CloseNative(Native s) { close(s); }
bool SetNonBlocking(Native s) {
  const int flags = fcntl(s, F_GETFL, 0);
  return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
int LastError() { return errno; }
bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
bool Interrupted(int error) { return error == EINTR; }
bool ConnectPending(int error) { return error == EINPROGRESS; }

int Wait(Native s, bool forWrite, bool /*forConnect*/, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd p{s, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int n = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (n > 0) return 1;  // errors and hang-ups show up in the following call
    if (n == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

#endif

Native AsNative(std::intptr_t h) { return static_cast<Native>(h); }

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept : handle_(std::exchange(other.handle_, kClosed)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kClosed);
  }
  return *this;
}

void Socket::Close() {
  if (IsOpen()) CloseNative(AsNative(std::exchange(handle_, kClosed)));
}

Socket Socket::Connect(const std::string& host, std::uint16_t port, int timeoutMs) {
  if (!NetworkReady() || host.empty()) return {};
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return {};
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);

  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    Socket candidate(static_cast<Handle>(socket(a->ai_family, a->ai_socktype, a->ai_protocol)));
    if (!candidate.IsOpen() || !SetNonBlocking(AsNative(candidate.handle_))) continue;
    const Native s = AsNative(candidate.handle_);
    if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) return candidate;
    if (!ConnectPending(LastError())) continue;
    if (Wait(s, true, true, RemainingMs(deadline)) <= 0) {
      if (RemainingMs(deadline) == 0) break;
      continue;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0)
      return candidate;
  }
  return {};
}

Socket Socket::ListenLoopback(std::uint16_t port, int backlog) {
  if (!NetworkReady()) return {};
  Socket listener(static_cast<Handle>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
  if (!listener.IsOpen()) return {};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const Native s = AsNative(listener.handle_);
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(s, backlog) != 0 ||
      !SetNonBlocking(s))
    return {};
  return listener;
}

std::uint16_t Socket::LocalPort() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (!IsOpen() || getsockname(AsNative(handle_), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

Socket Socket::Accept(int timeoutMs) {
  if (!IsOpen() || Wait(AsNative(handle_), false, false, timeoutMs) <= 0) return {};
  Socket peer(static_cast<Handle>(accept(AsNative(handle_), nullptr, nullptr)));
  // POSIX does not pass non-blocking mode on to the accepted socket.
  if (peer.IsOpen() && !SetNonBlocking(AsNative(peer.handle_))) return {};
  return peer;
}

bool Socket::SendAll(std::string_view data, int timeoutMs) {
  if (!IsOpen()) return false;
  const Native s = AsNative(handle_);
  while (!data.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(data.size(), INT_MAX));
    const auto sent = send(s, data.data(), chunk, kSendFlags);
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    const int error = LastError();
    if (sent < 0 && Interrupted(error)) continue;
    if (sent < 0 && WouldBlock(error) && Wait(s, true, false, timeoutMs) > 0) continue;
    return false;
  }
  return true;
}

Socket::ReceiveResult Socket::Receive(char* buffer, std::size_t size, int timeoutMs) {
  if (!IsOpen()) return {Status::kError, 0};
  const Native s = AsNative(handle_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const int chunk = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
  for (;;) {
    const int ready = Wait(s, false, false, RemainingMs(deadline));
    if (ready == 0) return {Status::kTimeout, 0};
    if (ready < 0) return {Status::kError, 0};
    const auto got = recv(s, buffer, chunk, 0);
    if (got > 0) return {Status::kData, static_cast<std::size_t>(got)};
    if (got == 0) return {Status::kClosed, 0};
    const int error = LastError();
    if (!WouldBlock(error) && !Interrupted(error)) return {Status::kError, 0};
    if (RemainingMs(deadline) == 0) return {Status::kTimeout, 0};
  }
}

void Socket::ShutdownSend() {
  if (IsOpen()) shutdown(AsNative(handle_), kShutdownSend);
}

}  // namespace quillet
