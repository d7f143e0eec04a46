#include "tests/support/LoopbackServer.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <utility>

namespace quillet::test {
namespace {

// Short slices keep the server responsive to its destructor.
constexpr int kSliceMs = 10;
// A client that sends no complete request within this time is answered anyway.
constexpr int kRequestWaitMs = 5'000;
constexpr int kSendWaitMs = 5'000;

}  // namespace

Action Send(std::string bytes) { return {Action::Kind::kSend, std::move(bytes), 0}; }
Action Sleep(int ms) { return {Action::Kind::kSleep, {}, ms}; }
Action Close() { return {Action::Kind::kClose, {}, 0}; }
Action Hang() { return {Action::Kind::kHang, {}, 0}; }
Action Trickle(std::string bytes, int pauseMs) { return {Action::Kind::kTrickle, std::move(bytes), pauseMs}; }

std::string HttpResponse(const std::string& status, const std::string& body, const std::string& headers) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body;
}

std::string RequestTarget(const std::string& request) {
  const std::string line = request.substr(0, request.find("\r\n"));
  const std::size_t first = line.find(' ');
  if (first == std::string::npos) return {};
  const std::size_t second = line.find(' ', first + 1);
  if (second == std::string::npos) return {};
  return line.substr(first + 1, second - first - 1);
}

LoopbackServer::LoopbackServer(std::vector<Action> script) : LoopbackServer(std::move(script), nullptr) {}

LoopbackServer::LoopbackServer(Route route) : LoopbackServer({}, std::move(route)) {}

LoopbackServer::LoopbackServer(std::vector<Action> script, Route route)
    : script_(std::move(script)), route_(std::move(route)) {
  listener_ = Socket::ListenLoopback(0, 16);
  port_ = listener_.LocalPort();
  if (port_ == 0) throw std::runtime_error("LoopbackServer: cannot listen on 127.0.0.1");
  thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
  stopping_ = true;
  thread_.join();
}

std::string LoopbackServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> LoopbackServer::Requests() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LoopbackServer::Run() {
  while (!stopping_) {
    Socket connection = listener_.Accept(kSliceMs);
    if (connection.IsOpen()) Serve(connection);
  }
}

void LoopbackServer::Serve(Socket& connection) {
  std::string request;
  char buffer[4096];
  for (int waited = 0; waited < kRequestWaitMs && !stopping_ && request.find("\r\n\r\n") == std::string::npos;) {
    const auto got = connection.Receive(buffer, sizeof buffer, kSliceMs);
    if (got.status == Socket::Status::kData) request.append(buffer, got.bytes);
    else if (got.status == Socket::Status::kTimeout) waited += kSliceMs;
    else break;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  if (route_) {
    connection.SendAll(route_(RequestTarget(request)), kSendWaitMs);
  } else {
    for (const Action& action : script_)
      if (!Play(connection, action)) return;
  }
  connection.ShutdownSend();
}

bool LoopbackServer::Pause(int ms) {
  for (int slept = 0; slept < ms && !stopping_; slept += kSliceMs)
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kSliceMs, ms - slept)));
  return !stopping_;
}

bool LoopbackServer::Play(Socket& connection, const Action& action) {
  switch (action.kind) {
    case Action::Kind::kSend: return connection.SendAll(action.bytes, kSendWaitMs);
    case Action::Kind::kSleep: return Pause(action.ms);
    case Action::Kind::kClose: return false;
    case Action::Kind::kHang: WaitForClientClose(connection); return false;
    case Action::Kind::kTrickle:
      for (char c : action.bytes)
        if (!Pause(action.ms) || !connection.SendAll(std::string_view(&c, 1), kSendWaitMs)) return false;
      return true;
  }
  return false;
}

void LoopbackServer::WaitForClientClose(Socket& connection) {
  char buffer[512];
  while (!stopping_) {
    const auto status = connection.Receive(buffer, sizeof buffer, kSliceMs).status;
    if (status == Socket::Status::kClosed || status == Socket::Status::kError) return;
  }
}

std::uint16_t RefusingPort() {
  // The system hands out a free port; once it is closed nobody listens there.
  return Socket::ListenLoopback(0, 1).LocalPort();
}

BlackHoleListener::BlackHoleListener() : listener_(Socket::ListenLoopback(0, 0)) {
  const std::uint16_t port = listener_.LocalPort();
  if (port == 0) return;
  // Connect until one attempt stalls: from then on the queue stays full, as nobody accepts.
  for (int i = 0; i < 16; ++i) {
    Socket filler = Socket::Connect("127.0.0.1", port, 300);
    if (!filler.IsOpen()) {
      ready_ = true;
      return;
    }
    fillers_.push_back(std::move(filler));
  }
}

}  // namespace quillet::test
