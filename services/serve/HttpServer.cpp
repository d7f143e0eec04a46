#include "services/serve/HttpServer.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <limits>
#include <list>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "services/serve/HtmlPages.h"
#include "services/serve/Log.h"
#include "services/serve/Service.h"
#include "services/text/Strings.h"

namespace quillet::services {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

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

using RequestParser = http::request_parser<http::buffer_body>;

void Configure(RequestParser& parser) {
  parser.header_limit(static_cast<std::uint32_t>(limits::kMaxRequestHeader));
  // Whatever body a request announces is refused unread; a limit here would turn that
  // refusal into a parse error. (Beast 1.74 takes an empty limit as zero, not as none.)
  parser.body_limit(std::numeric_limits<std::uint64_t>::max());
}

struct Exchange {
  unsigned version = 11;
  bool keepAlive = false;
  bool head = false;
};

// What the server makes of a request header.
struct Examined {
  enum class Outcome { kClose, kRefuse, kAnswer } outcome = Outcome::kClose;
  Reply refusal;  // kRefuse: answered, then the connection lingers and closes
  Exchange exchange;
  std::string path, query;
};

Examined Refusal(http::status status, std::string_view message) {
  int code = static_cast<int>(status);
  return {Examined::Outcome::kRefuse,
          {code,
           RenderMessagePage("Request not understood", std::string(message) + " (error " + std::to_string(code) + ")")},
          {},
          {},
          {}};
}

// ec: how reading the header ended.
Examined Examine(const RequestParser& parser, error_code ec) {
  if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
    // The request line is parsed (and its target known) as soon as it is complete.
    bool lineEnded = !parser.get().target().empty();
    return lineEnded ? Refusal(http::status::request_header_fields_too_large, "The request's headers are too large.")
                     : Refusal(http::status::uri_too_long, "The request line is too long.");
  }
  if (ec && ec.category() == http::make_error_code(http::error::bad_target).category() &&
      ec != http::error::end_of_stream && ec != http::error::partial_message)
    return Refusal(http::status::bad_request, "The request is not understood.");
  if (ec) return {};
  const auto& request = parser.get();
  if (request.method() != http::verb::get && request.method() != http::verb::head)
    return Refusal(http::status::method_not_allowed, "Only GET and HEAD are answered here.");
  // Any transfer coding means a body: none is read here, and one whose last coding is not
  // chunked has no length a reader could agree on (a proxy in front might read it as a
  // body while this server took it for the next request).
  if (request.count(http::field::transfer_encoding) > 0 || parser.chunked() || parser.content_length().value_or(0) > 0)
    return Refusal(http::status::bad_request, "Requests with a body are not accepted.");
  Examined examined;
  examined.outcome = Examined::Outcome::kAnswer;
  examined.exchange = {request.version(), request.keep_alive(), request.method() == http::verb::head};
  std::tie(examined.path, examined.query) =
      SplitTarget(std::string_view(request.target().data(), request.target().size()));
  return examined;
}

void MakeResponse(http::response<http::string_body>& response, const Exchange& exchange, int status, std::string body) {
  response = {};
  response.version(exchange.version == 10 ? 10 : 11);
  response.result(static_cast<http::status>(status));
  response.set(http::field::server, "quillet-services");
  response.set(http::field::content_type, kContentType);
  if (status == static_cast<int>(http::status::method_not_allowed)) response.set(http::field::allow, "GET, HEAD");
  response.keep_alive(exchange.keepAlive);
  response.content_length(body.size());
  if (!exchange.head) response.body() = std::move(body);
}

// Refusals the log counts rather than writes a line for, by status.
std::string RefusalKind(int status) {
  return status == 405 ? "requests of another method" : "malformed requests (" + std::to_string(status) + ")";
}

}  // namespace

class Connection;

// Store work waiting for a worker thread. Requests wait in two lanes: the costly lane holds
// repeats of requests that took the store long (or have run long so far) and requests that
// many clients repeat at once; it runs on at most a quarter of the workers and is short, so
// that such requests never take every worker. The other lane is bounded per client address
// and in all. A request is taken when a worker is free; one past its deadline
// by then is answered 503 without the store, one whose client has gone is dropped.
class WorkQueue {
 public:
  struct Job {
    std::shared_ptr<Connection> connection;
    Service::Prepared prepared;
    std::string target;   // the cost's key, and the request in the log
    std::string address;  // of the client
    Deadline deadline = Deadline::None();
    bool costly = false;
  };

  WorkQueue(Service& service, asio::io_context& loop, int workers, int perClient, int total, Log* log)
      : service_(service),
        loop_(loop),
        perClient_(perClient),
        total_(total),
        costlyWorkers_(std::max(1, workers / 4)),
        log_(log) {
    for (int i = 0; i < std::max(1, workers); ++i) threads_.emplace_back([this] { Work(); });
  }
  ~WorkQueue() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    for (auto& thread : threads_) thread.join();
  }

  // False, taking nothing, when the request's lane is full.
  bool Push(Job job);

 private:
  void Work();
  void Finished(const Job& job, Clock::duration took, const std::optional<Reply>& reply);

  Service& service_;
  asio::io_context& loop_;
  const int perClient_, total_, costlyWorkers_;
  Log* log_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Job> normal_, costly_;
  std::unordered_map<std::string, int> waiting_;  // normal lane, by client address
  std::unordered_set<std::string> costlyTargets_;
  // The same request (by target) waiting or being answered, and since when the first of
  // them has run (none yet: the epoch).
  struct Flight {
    int count = 0;
    Clock::time_point since;
  };
  std::unordered_map<std::string, Flight> flights_;
  int costlyRunning_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;  // last: started when everything else is ready
};

struct HttpServer::Impl {
  Impl(Service& s, const Options& o)
      : service(s), options(o), queue(s, ioc, o.workers, o.maxQueuedPerClient, o.maxQueued, o.log) {}

  void StartAccept();
  void OnAccepted(error_code ec, tcp::socket socket);
  void ConnectionClosed();
  void SummarizeLog();

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
  asio::steady_timer logTimer{ioc};
  // Last, so that it is stopped first: jobs it drops close their connections, which need the
  // members above.
  WorkQueue queue;
};

// One client connection. Lives as long as an operation of it is pending or a worker holds
// its request (shared_from_this); every member function runs on the event loop's thread.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(HttpServer::Impl& server, tcp::socket socket)
      : server_(server), stream_(std::move(socket)), buffer_(2 * limits::kMaxRequestHeader) {
    error_code ignored;
    address_ = stream_.socket().remote_endpoint(ignored).address().to_string();
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
    if (server_.options.log) server_.options.log->Count("connections closed at the connection cap");
    SetWaiting(false);
    error_code ignored;
    stream_.socket().close(ignored);
  }

  // The answer of the store work, from a worker; none when the client had gone.
  void Finish(std::optional<Reply> reply) {
    awaiting_ = false;
    if (!reply || gone_) return Close();
    Send(exchange_, reply->status, std::move(reply->body));
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
    Configure(*parser_);
    stream_.expires_after(server_.options.requestDeadline);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](error_code ec, std::size_t) { self->OnHeader(ec); });
  }

  void OnHeader(error_code ec) {
    // The request's time counts from here, however long it then waits for a worker.
    auto arrived = Clock::now();
    Examined examined = Examine(*parser_, ec);
    parser_.reset();
    if (examined.outcome == Examined::Outcome::kClose) return Close();
    SetWaiting(false);
    Log* log = server_.options.log;
    if (examined.outcome == Examined::Outcome::kRefuse) {
      if (log) log->Count(RefusalKind(examined.refusal.status));
      return Refuse(std::move(examined.refusal));
    }
    exchange_ = examined.exchange;
    Service::Prepared prepared = server_.service.Prepare(examined.path, examined.query);
    // Refusals, unknown paths and whatever else needs no store never wait for a worker.
    if (prepared.reply) return Send(exchange_, prepared.reply->status, std::move(prepared.reply->body));
    if (server_.service.FailingFast()) {
      if (log) log->Count("requests answered 503 at once while the store does not answer");
      return SendBusy();
    }
    std::string target = examined.path;
    if (!examined.query.empty()) target += "?" + examined.query;
    abandoned_ = false;
    gone_ = false;
    awaiting_ = true;
    ++watch_;
    WorkQueue::Job job{shared_from_this(),
                       std::move(prepared),
                       std::move(target),
                       address_,
                       Deadline::Until(arrived + server_.service.Budget(), &abandoned_),
                       false};
    if (!server_.queue.Push(std::move(job))) {
      awaiting_ = false;
      if (log) log->Count("requests answered 503 at once with the queue full");
      return SendBusy();
    }
    Watch();
  }

  void SendBusy() {
    Reply busy = Service::Busy();
    Send(exchange_, busy.status, std::move(busy.body));
  }

  // While its request waits or is answered, a connection is watched for its client going
  // away (a close or a reset), so that the work is not started or is stopped. Bytes the
  // client sends meanwhile (a pipelined request) are kept, up to the header limit.
  void Watch() {
    if (buffer_.size() >= limits::kMaxRequestHeader) return;
    stream_.socket().async_wait(tcp::socket::wait_read, [self = shared_from_this(), watch = watch_](error_code ec) {
      // A watch of an earlier request, still pending after its answer: not this one's.
      if (!self->awaiting_ || watch != self->watch_) return;
      if (ec) return self->Abandon();
      auto& socket = self->stream_.socket();
      error_code readError;
      socket.non_blocking(true, readError);
      std::size_t available = readError ? 0 : socket.available(readError);
      std::size_t room = limits::kMaxRequestHeader - self->buffer_.size();
      // Readable with nothing to read: the client closed or reset the connection.
      std::size_t n =
          readError ? 0
                    : socket.read_some(self->buffer_.prepare(std::clamp<std::size_t>(available, 1, room)), readError);
      if (readError && readError != asio::error::would_block) return self->Abandon();
      self->buffer_.commit(n);
      self->Watch();
    });
  }

  void Abandon() {
    gone_ = true;
    abandoned_ = true;
  }

  void Send(const Exchange& exchange, int status, std::string body, bool linger = false) {
    MakeResponse(response_, exchange, status, std::move(body));
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
  void Refuse(Reply reply) {
    SetWaiting(false);
    Send(Exchange{11, false, false}, reply.status, std::move(reply.body), true);
  }

  // After a refusal the client may still be sending (a body, the rest of a long line). Closing
  // at once would reset the connection before it reads the answer, so its input is read and
  // thrown away for a short while first: at most the linger time and bytes, however fast it
  // comes (a read that always finds data never waits for the timer).
  void Linger() {
    error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    lingerUntil_ = Clock::now() + server_.options.lingerTime;
    lingered_ = 0;
    Discard();
  }

  void Discard() {
    buffer_.consume(buffer_.size());
    if (Clock::now() >= lingerUntil_ || lingered_ >= server_.options.lingerBytes) return Close();
    stream_.expires_at(lingerUntil_);
    stream_.async_read_some(buffer_.prepare(kDiscardRead), [self = shared_from_this()](error_code ec, std::size_t n) {
      if (ec) return self->Close();
      self->lingered_ += n;
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
  std::string address_;
  // buffer_body: reading the header of a request that announces a body neither reads nor
  // makes room for that body.
  std::optional<RequestParser> parser_;
  http::response<http::string_body> response_;
  Exchange exchange_;
  Clock::time_point lingerUntil_;
  std::size_t lingered_ = 0;
  bool awaiting_ = false;               // a worker has the request
  unsigned watch_ = 0;                  // the request being watched
  bool gone_ = false;                   // its client went meanwhile
  std::atomic<bool> abandoned_{false};  // the same, for the worker's store
  bool waiting_ = false;
  std::list<Connection*>::iterator waitingAt_;
};

bool WorkQueue::Push(Job job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Known to be costly, repeated by many at once, or running already and long so far.
    Flight& flight = flights_[job.target];
    job.costly = costlyTargets_.count(job.target) > 0 || flight.count >= limits::kMaxRepeatsInFlight ||
                 (flight.since != Clock::time_point() && Clock::now() - flight.since >= limits::kCostlyRequest);
    auto refuse = [&] {
      if (flight.count == 0) flights_.erase(job.target);
      return false;
    };
    if (job.costly) {
      if (static_cast<int>(costly_.size()) >= limits::kMaxCostlyQueued) return refuse();
      ++flight.count;
      costly_.push_back(std::move(job));
    } else {
      int& mine = waiting_[job.address];
      if (mine >= perClient_ || static_cast<int>(normal_.size()) >= total_) {
        if (mine == 0) waiting_.erase(job.address);
        return refuse();
      }
      ++mine;
      ++flight.count;
      normal_.push_back(std::move(job));
    }
  }
  ready_.notify_one();
  return true;
}

void WorkQueue::Work() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(
          lock, [&] { return stopping_ || !normal_.empty() || (!costly_.empty() && costlyRunning_ < costlyWorkers_); });
      if (stopping_) return;
      if (!normal_.empty()) {
        job = std::move(normal_.front());
        normal_.pop_front();
        if (--waiting_[job.address] == 0) waiting_.erase(job.address);
      } else {
        job = std::move(costly_.front());
        costly_.pop_front();
        ++costlyRunning_;
      }
      Flight& flight = flights_[job.target];
      if (flight.since == Clock::time_point()) flight.since = Clock::now();
    }
    std::optional<Reply> reply;
    auto started = Clock::now();
    if (job.deadline.Abandoned()) {
      // The client has gone: nothing to answer, nothing to compute.
    } else if (job.deadline.Passed()) {
      if (log_) log_->Count("requests out of time before a worker was free");
      reply = Service::Busy();
    } else {
      reply = service_.Run(job.prepared, job.deadline, job.target, job.costly);
    }
    Finished(job, Clock::now() - started, reply);
    asio::post(loop_, [connection = std::move(job.connection), reply = std::move(reply)]() mutable {
      connection->Finish(std::move(reply));
    });
  }
}

void WorkQueue::Finished(const Job& job, Clock::duration took, const std::optional<Reply>& reply) {
  bool ran = reply && !job.deadline.Abandoned();
  bool costly = took >= limits::kCostlyRequest || (reply && reply->status == 503 && job.deadline.Passed());
  std::lock_guard<std::mutex> lock(mutex_);
  if (job.costly) {
    --costlyRunning_;
    ready_.notify_one();
  }
  auto flight = flights_.find(job.target);
  if (--flight->second.count == 0) flights_.erase(flight);
  if (!ran) return;
  if (costly) {
    if (costlyTargets_.size() >= limits::kCostMemory) costlyTargets_.clear();
    costlyTargets_.insert(job.target);
  } else if (job.costly) {
    costlyTargets_.erase(job.target);  // cheap again (a new file, a warm cache)
  }
}

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

void HttpServer::Impl::SummarizeLog() {
  if (!options.log) return;
  logTimer.expires_after(options.logSummary);
  logTimer.async_wait([this](error_code ec) {
    if (ec) return;
    options.log->Summarize();
    SummarizeLog();
  });
}

HttpServer::HttpServer(Service& service, const Options& options) : impl_(std::make_unique<Impl>(service, options)) {
  RaiseDescriptorLimit(options.maxConnections);
}

HttpServer::~HttpServer() {
  impl_->running = false;
  Stop();
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
  impl_->SummarizeLog();
  impl_->ioc.run();
  impl_->running = false;
  return true;
}

void HttpServer::Stop() { impl_->ioc.stop(); }

int HttpServer::OpenConnections() const { return impl_->openShown.load(); }

std::string AnswerRequest(Service& service, std::string_view bytes) {
  RequestParser parser;
  Configure(parser);
  error_code ec;
  // The server reads into a buffer of at most twice the header limit.
  parser.put(asio::buffer(bytes.data(), std::min(bytes.size(), 2 * limits::kMaxRequestHeader)), ec);
  if (ec == http::error::need_more) {
    if (bytes.size() < limits::kMaxRequestHeader) return {};
    ec = http::error::header_limit;
  }
  Examined examined = Examine(parser, ec);
  http::response<http::string_body> response;
  if (examined.outcome == Examined::Outcome::kClose) return {};
  if (examined.outcome == Examined::Outcome::kRefuse) {
    MakeResponse(response, Exchange{11, false, false}, examined.refusal.status, std::move(examined.refusal.body));
  } else {
    Service::Prepared prepared = service.Prepare(examined.path, examined.query);
    Reply reply = service.Run(prepared, Deadline::In(service.Budget()), examined.path + "?" + examined.query);
    MakeResponse(response, examined.exchange, reply.status, std::move(reply.body));
  }
  std::ostringstream out;
  out << response;
  return out.str();
}

}  // namespace quillet::services
