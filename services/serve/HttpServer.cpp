#include "services/serve/HttpServer.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <limits>
#include <list>
#include <optional>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "services/serve/HtmlPages.h"
#include "services/serve/Service.h"
#include "services/text/Strings.h"

namespace quillet::services {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

constexpr std::size_t kFirstRead = 2048;
constexpr std::size_t kDiscardRead = 4096;
constexpr std::chrono::milliseconds kAcceptRetry{100};
constexpr const char* kContentType = "text/html; charset=utf-8";

// Enough descriptors for every connection the server may hold, plus the database's.
void RaiseDescriptorLimit([[maybe_unused]] int connections) {
#ifndef _WIN32
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  rlim_t wanted = static_cast<rlim_t>(connections) * 2 + 256;
  if (limit.rlim_cur >= wanted) return;
  limit.rlim_cur = std::min(wanted, limit.rlim_max);
  setrlimit(RLIMIT_NOFILE, &limit);
#endif
}

// The target as the service reads it: path (escapes decoded) and raw query.
std::pair<std::string, std::string> SplitTarget(std::string_view target) {
  // An absolute-form target (a proxy's way of asking) names the same path.
  for (std::string_view scheme : {"http://", "https://"}) {
    if (target.substr(0, scheme.size()) == scheme) {
      size_t slash = target.find_first_of("/?", scheme.size());
      target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
  }
  size_t mark = target.find('?');
  std::string path = PercentDecode(target.substr(0, mark), false);
  std::string query = mark == std::string_view::npos ? std::string() : std::string(target.substr(mark + 1));
  return {path, query};
}

}  // namespace

class Connection;

struct HttpServer::Impl {
  Impl(Service& s, const Options& o)
      : service(s), options(o), workers(static_cast<std::size_t>(std::max(1, o.workers))) {}

  void StartAccept();
  void OnAccepted(error_code ec, tcp::socket socket);
  void ConnectionClosed();

  Service& service;
  const Options options;
  // Declared before the event loop, so that connections destroyed with it still find them.
  int open = 0;
  std::atomic<int> openShown{0};
  bool running = false;
  bool acceptPaused = false;
  std::list<Connection*> waiting;  // connections without a complete request, longest waiting first
  asio::io_context ioc{1};
  tcp::acceptor acceptor{ioc};
  asio::steady_timer acceptRetry{ioc};
  asio::thread_pool workers;
};

// One client connection. Lives as long as an operation of it is pending (shared_from_this);
// every member function runs on the event loop's thread, except the request handed to a worker.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(HttpServer::Impl& server, tcp::socket socket)
      : server_(server), stream_(std::move(socket)), buffer_(2 * limits::kMaxRequestHeader) {
    ++server_.open;
    server_.openShown = server_.open;
  }
  ~Connection() {
    SetWaiting(false);
    --server_.open;
    server_.openShown = server_.open;
    server_.ConnectionClosed();
  }

  void Start() { AwaitRequest(); }

  // Closes the connection to make room for a new one; its pending operation ends with an error.
  void Evict() {
    SetWaiting(false);
    error_code ignored;
    stream_.socket().close(ignored);
  }

 private:
  void SetWaiting(bool waiting) {
    if (waiting == waiting_) return;
    waiting_ = waiting;
    if (waiting) waitingAt_ = server_.waiting.insert(server_.waiting.end(), this);
    else server_.waiting.erase(waitingAt_);
  }

  // A kept-alive or new connection gets the idle time for the first byte of its next request.
  void AwaitRequest() {
    SetWaiting(true);
    if (buffer_.size() > 0) return ReadHeader();
    stream_.expires_after(server_.options.idleTimeout);
    stream_.async_read_some(buffer_.prepare(kFirstRead), [self = shared_from_this()](error_code ec, std::size_t n) {
      if (ec) return self->Close();
      self->buffer_.commit(n);
      self->ReadHeader();
    });
  }

  // From its first byte on, the whole header must arrive within the deadline, however slowly
  // it trickles in.
  void ReadHeader() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(limits::kMaxRequestHeader));
    // Whatever body a request announces is refused unread; a limit here would turn that
    // refusal into a parse error. (Beast 1.74 takes an empty limit as zero, not as none.)
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    stream_.expires_after(server_.options.requestDeadline);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](error_code ec, std::size_t) { self->OnHeader(ec); });
  }

  void OnHeader(error_code ec) {
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
      // The request line is parsed (and its target known) as soon as it is complete.
      bool lineEnded = !parser_->get().target().empty();
      return Refuse(lineEnded ? http::status::request_header_fields_too_large : http::status::uri_too_long,
                    lineEnded ? "The request's headers are too large." : "The request line is too long.");
    }
    if (ec && ec.category() == http::make_error_code(http::error::bad_target).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message)
      return Refuse(http::status::bad_request, "The request is not understood.");
    if (ec) return Close();

    SetWaiting(false);
    const auto& request = parser_->get();
    if (request.method() != http::verb::get && request.method() != http::verb::head)
      return Refuse(http::status::method_not_allowed, "Only GET and HEAD are answered here.");
    // A body is never read: it could be of any size, and no request here needs one.
    if (parser_->chunked() || parser_->content_length().value_or(0) > 0)
      return Refuse(http::status::bad_request, "Requests with a body are not accepted.");

    Exchange exchange{request.version(), request.keep_alive(), request.method() == http::verb::head};
    auto [path, query] = SplitTarget(std::string_view(request.target().data(), request.target().size()));
    parser_.reset();
    asio::post(server_.workers,
               [self = shared_from_this(), path = std::move(path), query = std::move(query), exchange] {
                 Reply reply = self->server_.service.Respond(path, query);
                 asio::post(self->server_.ioc, [self, exchange, reply = std::move(reply)]() mutable {
                   self->Send(exchange, static_cast<http::status>(reply.status), std::move(reply.body));
                 });
               });
  }

  struct Exchange {
    unsigned version = 11;
    bool keepAlive = false;
    bool head = false;
  };

  void Send(const Exchange& exchange, http::status status, std::string body, bool linger = false) {
    response_ = {};
    response_.version(exchange.version == 10 ? 10 : 11);
    response_.result(status);
    response_.set(http::field::server, "quillet-services");
    response_.set(http::field::content_type, kContentType);
    if (status == http::status::method_not_allowed) response_.set(http::field::allow, "GET, HEAD");
    response_.keep_alive(exchange.keepAlive);
    response_.content_length(body.size());
    if (!exchange.head) response_.body() = std::move(body);
    stream_.expires_after(server_.options.writeDeadline);
    http::async_write(stream_, response_,
                      [self = shared_from_this(), keepAlive = exchange.keepAlive, linger](error_code ec, std::size_t) {
                        if (ec) return self->Close();
                        if (linger) return self->Linger();
                        if (keepAlive) return self->AwaitRequest();
                        self->Shutdown();
                      });
  }

  // Answers and closes, without reading what else the client sends.
  void Refuse(http::status status, std::string_view message) {
    SetWaiting(false);
    Send(Exchange{11, false, false}, status,
         RenderMessagePage("Request not understood",
                           std::string(message) + " (error " + std::to_string(static_cast<int>(status)) + ")"),
         true);
  }

  // After a refusal the client may still be sending (a body, the rest of a long line). Closing
  // at once would reset the connection before it reads the answer, so its input is read and
  // thrown away for a short while first.
  void Linger() {
    error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    lingerUntil_ = std::chrono::steady_clock::now() + server_.options.lingerTime;
    Discard();
  }

  void Discard() {
    buffer_.consume(buffer_.size());
    stream_.expires_at(lingerUntil_);
    stream_.async_read_some(buffer_.prepare(kDiscardRead), [self = shared_from_this()](error_code ec, std::size_t) {
      if (ec) return self->Close();
      self->Discard();
    });
  }

  void Shutdown() {
    error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    Close();
  }

  void Close() {
    SetWaiting(false);
    error_code ignored;
    stream_.socket().close(ignored);
  }

  HttpServer::Impl& server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  // buffer_body: reading the header of a request that announces a body neither reads nor
  // makes room for that body.
  std::optional<http::request_parser<http::buffer_body>> parser_;
  http::response<http::string_body> response_;
  std::chrono::steady_clock::time_point lingerUntil_;
  bool waiting_ = false;
  std::list<Connection*>::iterator waitingAt_;
};

void HttpServer::Impl::StartAccept() {
  if (!running) return;
  // Every connection busy with a request: new ones wait in the listen queue until one is done.
  if (open >= options.maxConnections && waiting.empty()) {
    acceptPaused = true;
    return;
  }
  acceptPaused = false;
  acceptor.async_accept([this](error_code ec, tcp::socket socket) { OnAccepted(ec, std::move(socket)); });
}

void HttpServer::Impl::OnAccepted(error_code ec, tcp::socket socket) {
  if (ec == asio::error::operation_aborted || !running) return;
  if (ec) {
    // Out of descriptors or a connection reset before it was taken: try again shortly.
    acceptRetry.expires_after(kAcceptRetry);
    acceptRetry.async_wait([this](error_code waited) {
      if (!waited) StartAccept();
    });
    return;
  }
  // At the cap, the connection that has waited longest without a whole request makes room:
  // no number of idle or trickling clients can keep a new one out.
  if (open >= options.maxConnections && !waiting.empty()) waiting.front()->Evict();
  std::make_shared<Connection>(*this, std::move(socket))->Start();
  StartAccept();
}

void HttpServer::Impl::ConnectionClosed() {
  if (acceptPaused && running) StartAccept();
}

HttpServer::HttpServer(Service& service, const Options& options) : impl_(std::make_unique<Impl>(service, options)) {
  RaiseDescriptorLimit(options.maxConnections);
}

HttpServer::~HttpServer() {
  impl_->running = false;
  Stop();
  impl_->workers.join();
}

int HttpServer::Bind(const std::string& host, int port) {
  error_code ec;
  asio::ip::address address = asio::ip::make_address(host, ec);
  if (ec) {
    tcp::resolver resolver(impl_->ioc);
    auto results = resolver.resolve(host, "", ec);
    if (ec || results.empty()) return -1;
    address = results.begin()->endpoint().address();
  }
  tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  tcp::acceptor& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), ec);
  if (ec) return -1;
#ifndef _WIN32
  // On Windows this would let another program take the port over.
  acceptor.set_option(asio::socket_base::reuse_address(true), ec);
#endif
  acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    acceptor.close(ec);
    return -1;
  }
  return acceptor.local_endpoint(ec).port();
}

bool HttpServer::Run() {
  if (!impl_->acceptor.is_open()) return false;
  impl_->running = true;
  impl_->StartAccept();
  impl_->ioc.run();
  impl_->running = false;
  return true;
}

void HttpServer::Stop() { impl_->ioc.stop(); }

int HttpServer::OpenConnections() const { return impl_->openShown.load(); }

}  // namespace quillet::services
