#pragma once
// The HTTP/1.1 front of the service. One thread runs every connection on an event loop, so an
// idle or slow client costs a few kilobytes and no thread; a request that has arrived whole
// goes to a pool of worker threads that call Service::Respond. What a client can make it
// spend is bounded (services/Limits.h): a deadline for the whole request header, a cap on
// its size, idle connections closed, no request bodies, a cap on open connections. Every
// answer, also a refusal, is a complete HTML page with a Content-Length.
#include <chrono>
#include <memory>
#include <string>

#include "services/Limits.h"

namespace quillet::services {

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

}  // namespace quillet::services
