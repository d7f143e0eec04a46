#pragma once
// The HTTP/1.1 front of the service. One thread runs every connection on an event loop, so an
// idle or slow client costs a few kilobytes and no thread. A request that has arrived whole
// is checked there (Service::Prepare): refusals and requests that need no store are answered
// at once, and only store work waits for one of the worker threads. What a client can make
// it spend is bounded (services/Limits.h): a deadline for the whole request header, a cap on
// its size, idle connections closed, no request bodies, a cap on open connections, a bounded
// linger after a refusal, and a bounded share of the queue for store work. A request's time
// budget counts from its arrival, and a request whose client has gone is not started (or is
// stopped). Every answer, also a refusal, is a complete HTML page with a Content-Length.
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "services/Limits.h"

namespace quillet::services {

class Log;
class Service;

class HttpServer {
 public:
  struct Options {
    int workers = limits::kDefaultWorkers;
    int maxConnections = limits::kMaxConnections;
    std::chrono::milliseconds idleTimeout = limits::kIdleTimeout;
    std::chrono::milliseconds requestDeadline = limits::kRequestDeadline;
    std::chrono::milliseconds writeDeadline = limits::kWriteDeadline;
    std::chrono::milliseconds lingerTime = limits::kLingerTime;
    std::size_t lingerBytes = limits::kLingerBytes;
    int maxQueuedPerClient = limits::kMaxQueuedPerClient;
    int maxQueued = limits::kMaxQueued;
    // Refusals of note are counted here and summed up every logSummary (may be null).
    Log* log = nullptr;
    std::chrono::milliseconds logSummary = limits::kLogSummaryInterval;
  };

  // service must outlive the server.
  HttpServer(Service& service, const Options& options);
  explicit HttpServer(Service& service) : HttpServer(service, Options()) {}
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds the listening socket; port 0 picks a free port. Returns the port, or -1.
  int Bind(const std::string& host, int port);
  // Serves on the calling thread until Stop is called (from another thread). Returns false
  // when it could not run.
  bool Run();
  void Stop();
  // Connections open right now (for the tests and the benchmark).
  int OpenConnections() const;

  struct Impl;  // the event loop and its connections, in HttpServer.cpp

 private:
  std::unique_ptr<Impl> impl_;
};

// One request as the server handles it, without a socket (for the fuzzer and the tests): the
// bytes of a request as a client sends them, read by the server's own parser and checks, and
// answered by the service under its budget. The bytes of the response, or empty when the
// bytes hold no whole request header (the server would wait for more, then close).
std::string AnswerRequest(Service& service, std::string_view bytes);

}  // namespace quillet::services
