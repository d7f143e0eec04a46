#pragma once
// Something else on a ClickHouse port: it answers the statements a reader sends at start-up
// as a server of this schema would, and every other one as the test says (an answer too
// large, endless, malformed, cut short). Each connection is served on a thread of its own.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "services/store/clickhouse/ClickHouseStore.h"

namespace quillet::services::testing {

class FakeClickHouse {
 public:
  // Writes the answer to a read on the connection; a false send means the client has gone.
  using Answer = std::function<void(FakeClickHouse& server, int fd)>;

  explicit FakeClickHouse(Answer answer) : answer_(std::move(answer)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 256);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~FakeClickHouse() {
    stop_ = true;
    acceptor_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& thread : connections_) thread.join();
    close(listener_);
  }
  FakeClickHouse(const FakeClickHouse&) = delete;
  FakeClickHouse& operator=(const FakeClickHouse&) = delete;

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  bool Stopping() const { return stop_; }
  // Statements answered with the test's answer.
  int Reads() const { return reads_; }

  bool Send(int fd, std::string_view bytes) {
    while (!bytes.empty() && !stop_) {
      ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return !stop_;
  }
  static std::string Ok(std::string_view body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
  }

 private:
  void Accept() {
    while (!stop_) {
      pollfd entry{listener_, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      connections_.emplace_back([this, fd] {
        Serve(fd);
        close(fd);
      });
    }
  }

  void Serve(int fd) {
    std::string request;
    char buffer[65536];
    size_t end = std::string::npos;
    while ((end = request.find("\r\n\r\n")) == std::string::npos) {
      ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) return;
      request.append(buffer, static_cast<size_t>(got));
    }
    size_t at = request.find("Content-Length: ");
    size_t length = at == std::string::npos ? 0 : std::stoul(request.substr(at + 16));
    while (request.size() < end + 4 + length) {
      ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) return;
      request.append(buffer, static_cast<size_t>(got));
    }
    std::string body = request.substr(end + 4);
    if (body.find("SELECT version FROM") != std::string::npos)
      Send(fd, Ok(std::to_string(kClickHouseSchemaVersion) + "\n"));
    else if (body.rfind("EXISTS TABLE", 0) == 0) Send(fd, Ok("1\n"));
    else if (body.rfind("CREATE", 0) == 0 || body.rfind("INSERT", 0) == 0 ||
             body.rfind("SELECT id, owner FROM", 0) == 0)
      Send(fd, Ok(""));
    else {
      ++reads_;
      answer_(*this, fd);
    }
  }

  Answer answer_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> reads_{0};
  std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace quillet::services::testing
