#pragma once
// Clients of the data service on loopback, polite and hostile: raw sockets that send what
// they are told, when they are told, and a server run in the test process.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>

#include "services/serve/HttpServer.h"
#include "services/serve/Service.h"

namespace quillet::services::testing {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One TCP connection to 127.0.0.1:port. Sends never raise SIGPIPE.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return connected_; }
  int Fd() const { return fd_; }

  // False when the peer no longer takes data.
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
  }

  // What arrives within the wait: one whole response (up to its Content-Length, or to the
  // end of its header for a HEAD request), or everything up to the peer's close.
  std::string Response(milliseconds wait = milliseconds(5000), bool head = false) {
    std::string reply;
    auto until = Clock::now() + wait;
    while (true) {
      size_t end = reply.find("\r\n\r\n");
      if (end != std::string::npos) {
        if (head) break;
        size_t length = reply.find("Content-Length: ");
        if (length != std::string::npos && length < end &&
            reply.size() >= end + 4 + std::stoul(reply.substr(length + 16)))
          break;
      }
      if (!WaitReadable(until)) break;
      char buffer[65536];
      ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      reply.append(buffer, static_cast<size_t>(got));
    }
    return reply;
  }

  // Reads and drops input until the peer closes (true) or the wait is over (false).
  bool ClosedWithin(milliseconds wait) {
    auto until = Clock::now() + wait;
    char buffer[65536];
    while (WaitReadable(until)) {
      ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) return true;
    }
    return false;
  }

 private:
  bool WaitReadable(Clock::time_point until) {
    auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
    if (left <= 0) return false;
    pollfd entry{fd_, POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(left)) > 0;
  }

  int fd_;
  bool connected_ = false;
};

// A loopback port that was free a moment ago, for a server in another process.
inline int FreePort() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

inline std::string ProgramRequest(const std::string& target) {
  return "GET " + target +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/html, */*\r\n"
         "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n";
}

// One request on a fresh connection, as the program makes it; the response or what arrived.
inline std::string Exchange(int port, const std::string& request, milliseconds wait = milliseconds(5000)) {
  RawClient client(port);
  if (!client.Connected() || !client.Send(request)) return {};
  return client.Response(wait);
}

inline int StatusOf(const std::string& response) {
  return response.rfind("HTTP/1.", 0) == 0 && response.size() >= 12 ? std::stoi(response.substr(9, 3)) : 0;
}

inline std::string BodyOf(const std::string& response) {
  size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : response.substr(end + 4);
}

// The HTTP front serving a store on a free loopback port, on a thread of its own.
class LiveServer {
 public:
  LiveServer(StoreReader& store, const HttpServer::Options& options, milliseconds budget = limits::kQueryBudget,
             Log* log = nullptr)
      : service_(store, budget, log),
        server_(service_, options),
        port_(server_.Bind("127.0.0.1", 0)),
        runner_([this] { server_.Run(); }) {}
  ~LiveServer() {
    server_.Stop();
    runner_.join();
  }
  int Port() const { return port_; }
  HttpServer& Server() { return server_; }
  Service& ServiceOf() { return service_; }

 private:
  Service service_;
  HttpServer server_;
  int port_;
  std::thread runner_;
};

}  // namespace quillet::services::testing
