#pragma once
// The HTTP/1.1 front of the service: a pool of worker threads, each request answered by
// Service::Respond. Every answer, also for unknown methods, paths and malformed requests,
// is a complete HTML page with a Content-Length.
#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace quillet::services {

class Service;

class HttpServer {
 public:
  // service must outlive the server.
  HttpServer(Service& service, int threads);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds the listening socket; port 0 picks a free port. Returns the port, or -1.
  int Bind(const std::string& host, int port);
  // Serves until Stop is called (from another thread). Returns false when it could not run.
  bool Run();
  void Stop();

 private:
  std::unique_ptr<httplib::Server> server_;
};

}  // namespace quillet::services
