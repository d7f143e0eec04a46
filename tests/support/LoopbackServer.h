#pragma once
// A scripted HTTP server on 127.0.0.1 for tests, natively and under Wine. It runs on its
// own thread, serves one connection at a time, records each request's raw bytes (up to
// and including the empty line) and answers either with a fixed script of actions (the
// same for every connection) or with a route callback. The destructor stops it promptly,
// also in the middle of a slow or silent answer.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/Socket.h"

namespace quillet::test {

struct Action {
  enum class Kind { kSend, kSleep, kClose, kHang, kTrickle };
  Kind kind;
  std::string bytes;  // kSend, kTrickle
  int ms = 0;         // kSleep; kTrickle: pause before each byte
};

Action Send(std::string bytes);
Action Sleep(int ms);
// Ends the connection here, before the rest of the script.
Action Close();
// Sends nothing more and keeps the connection open until the client gives up.
Action Hang();
// Sends bytes one at a time, pausing pauseMs before each.
Action Trickle(std::string bytes, int pauseMs);

// A complete response with the given status line ("200 OK"), extra header lines (each
// ended by CR LF) and body, with a matching Content-Length.
std::string HttpResponse(const std::string& status, const std::string& body, const std::string& headers = "");

// The request target of a raw request ("GET /a?b HTTP/1.1..." gives "/a?b"); empty when
// the request line is malformed.
std::string RequestTarget(const std::string& request);

class LoopbackServer {
 public:
  using Route = std::function<std::string(const std::string& requestTarget)>;

  // After the script the connection is closed.
  explicit LoopbackServer(std::vector<Action> script);
  // Answers each request with route(target) as the whole raw response, then closes.
  explicit LoopbackServer(Route route);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::string BaseUrl() const;  // "http://127.0.0.1:PORT"
  std::vector<std::string> Requests() const;

 private:
  LoopbackServer(std::vector<Action> script, Route route);
  void Run();
  void Serve(Socket& connection);
  bool Pause(int ms);                                   // false when stopping
  bool Play(Socket& connection, const Action& action);  // false ends the connection
  void WaitForClientClose(Socket& connection);

  std::vector<Action> script_;
  Route route_;
  Socket listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 that nobody listens on (connecting is refused).
std::uint16_t RefusingPort();

// A listening socket whose accept queue is full, so that a further connect to Port()
// never completes.
class BlackHoleListener {
 public:
  BlackHoleListener();
  std::uint16_t Port() const { return listener_.LocalPort(); }
  // False when the queue could not be filled (the test should then be skipped).
  bool Ready() const { return ready_; }

 private:
  Socket listener_;
  std::vector<Socket> fillers_;
  bool ready_ = false;
};

}  // namespace quillet::test
