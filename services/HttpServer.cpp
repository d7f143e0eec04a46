#include "services/HttpServer.h"

#include <httplib.h>

#include "services/Pages.h"
#include "services/Service.h"

namespace quillet::services {

HttpServer::HttpServer(Service& service, int threads) : server_(std::make_unique<httplib::Server>()) {
  size_t workers = threads > 0 ? static_cast<size_t>(threads) : 8;
  server_->new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
  // A client that connects and then stalls must not hold a worker for long.
  server_->set_read_timeout(5, 0);
  server_->set_write_timeout(5, 0);
  server_->set_keep_alive_timeout(2);
  server_->Get(".*", [&service](const httplib::Request& request, httplib::Response& response) {
    // The raw target, not the library's parsed parameters: a value may hold an unencoded '&'.
    const std::string& target = request.target;
    size_t mark = target.find('?');
    std::string rawQuery = mark == std::string::npos ? std::string() : target.substr(mark + 1);
    Reply reply = service.Respond(request.path, rawQuery);
    response.status = reply.status;
    response.set_content(reply.body, "text/html; charset=utf-8");
  });
  // Requests the library refuses itself (bad request line, other methods, overlong URIs)
  // still get a page.
  httplib::Server::HandlerWithResponse errorPage = [](const httplib::Request&, httplib::Response& response) {
    if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    response.set_content(RenderMessagePage("Request not understood",
                                           "Error " + std::to_string(response.status) + "."),
                         "text/html; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  };
  server_->set_error_handler(errorPage);
}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::Bind(const std::string& host, int port) {
  if (port == 0) return server_->bind_to_any_port(host);
  return server_->bind_to_port(host, port) ? port : -1;
}

bool HttpServer::Run() { return server_->listen_after_bind(); }

void HttpServer::Stop() { server_->stop(); }

}  // namespace quillet::services
