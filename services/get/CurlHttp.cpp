// HttpClient over libcurl (Linux). The body is pulled: the transfer runs on the caller's
// thread through a multi handle, only while the reader wants bytes, and pauses when the
// buffer is full, so memory stays at limits::kDownloadBuffer whatever the reader's pace.
#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "services/Limits.h"
#include "services/get/Http.h"

namespace quillet::services {
namespace {

using Clock = std::chrono::steady_clock;

HttpFault FaultOf(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return HttpFault::kResolve;
    case CURLE_COULDNT_CONNECT: return HttpFault::kConnect;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return HttpFault::kUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED: return HttpFault::kSecure;
    case CURLE_TOO_MANY_REDIRECTS: return HttpFault::kRedirect;
    case CURLE_UNSUPPORTED_PROTOCOL: return HttpFault::kRedirect;  // a redirect to ftp:, file:
    case CURLE_URL_MALFORMAT: return HttpFault::kAddress;
    case CURLE_OUT_OF_MEMORY: return HttpFault::kOther;
    default: return HttpFault::kCut;
  }
}

struct EasyCloser {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListCloser {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

class CurlBody : public HttpBody {
 public:
  CurlBody(CURLM* multi, const HttpRequest& request, const std::string& userAgent)
      : multi_(multi), easy_(curl_easy_init()) {
    if (!easy_) throw HttpError("out of memory for a transfer", HttpFault::kOther);
    CURL* e = easy_.get();
    curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(e, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits::kGetConnectTimeout.count()));
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error_);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlBody::Write);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    // OpenSSL's own tools take another bundle from here: a company's CA, a test's.
    if (const char* bundle = std::getenv("SSL_CERT_FILE"); bundle && *bundle)
      curl_easy_setopt(e, CURLOPT_CAINFO, bundle);
    if (request.head) curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    if (request.from > 0) {
      std::string range = std::to_string(request.from) + "-";
      curl_easy_setopt(e, CURLOPT_RANGE, range.c_str());
      if (!request.ifRange.empty()) {
        headers_.reset(curl_slist_append(nullptr, ("If-Range: " + request.ifRange).c_str()));
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_.get());
      }
    }
    if (curl_multi_add_handle(multi_, e) != CURLM_OK) throw HttpError("cannot start a transfer", HttpFault::kOther);
    attached_.easy = e;
    lastByte_ = Clock::now();
    // The head is in once the body starts or the transfer is over. A transfer that failed
    // after its head and some bytes hands those bytes out first, then fails in Read: a
    // server that sends a little and closes each time still gets a little further each time.
    while (!done_ && begin_ == buffer_.size() && !paused_) Pump();
    long status = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    if (done_ && result_ != CURLE_OK && (status == 0 || begin_ == buffer_.size())) Fail();
    ReadHead(status);
  }
  CurlBody(const CurlBody&) = delete;
  CurlBody& operator=(const CurlBody&) = delete;

  const HttpHead& Head() const override { return head_; }

  std::size_t Read(char* out, std::size_t size) override {
    while (begin_ == buffer_.size()) {
      if (done_) {
        if (result_ != CURLE_OK) Fail();
        return 0;
      }
      buffer_.clear();
      begin_ = 0;
      if (paused_) {
        paused_ = false;
        lastByte_ = Clock::now();
        curl_easy_pause(easy_.get(), CURLPAUSE_CONT);  // may hand over the held bytes at once
        continue;
      }
      Pump();
    }
    std::size_t n = std::min(size, buffer_.size() - begin_);
    std::memcpy(out, buffer_.data() + begin_, n);
    begin_ += n;
    return n;
  }

 private:
  static std::size_t Write(char* data, std::size_t, std::size_t size, void* self) {
    auto* body = static_cast<CurlBody*>(self);
    if (body->buffer_.size() - body->begin_ >= limits::kDownloadBuffer) {
      body->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    body->buffer_.append(data, size);
    body->lastByte_ = Clock::now();
    return size;
  }

  // Lets the transfer run until something arrives or a second has passed.
  void Pump() {
    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy_.get()) {
        done_ = true;
        result_ = message->data.result;
      }
    }
    if (done_ || begin_ < buffer_.size() || paused_) return;
    if (Clock::now() - lastByte_ > limits::kGetIdleTimeout) {
      result_ = CURLE_OPERATION_TIMEDOUT;
      std::snprintf(error_, sizeof error_, "no data for %lld s",
                    static_cast<long long>(limits::kGetIdleTimeout.count() / 1000));
      done_ = true;
      return;
    }
    curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
  }

  [[noreturn]] void Fail() const {
    HttpFault fault = FaultOf(result_);
    // Out of time before a connection was made: the connect time, not a silent transfer.
    curl_off_t connected = 0;
    if (result_ == CURLE_OPERATION_TIMEDOUT &&
        curl_easy_getinfo(easy_.get(), CURLINFO_CONNECT_TIME_T, &connected) == CURLE_OK && connected == 0)
      fault = HttpFault::kConnect;
    throw HttpError(*error_ ? error_ : curl_easy_strerror(result_), fault);
  }

  std::string Header(const char* name) const {
    curl_header* found = nullptr;
    if (curl_easy_header(easy_.get(), name, 0, CURLH_HEADER, -1, &found) != CURLHE_OK) return {};
    return found->value;
  }

  void ReadHead(long status) {
    head_.status = static_cast<int>(status);
    head_.length = ParseContentLength(Header("Content-Length"));
    ParseContentRange(Header("Content-Range"), &head_);
    head_.retryAfter = Header("Retry-After");
    head_.etag = Header("ETag");
    head_.lastModified = Header("Last-Modified");
  }

  // Taken out of the multi handle before the easy handle goes (members go in reverse order),
  // also when the constructor fails.
  struct Attachment {
    CURLM* multi;
    CURL* easy = nullptr;
    ~Attachment() {
      if (easy) curl_multi_remove_handle(multi, easy);
    }
  };

  CURLM* multi_;
  std::unique_ptr<CURL, EasyCloser> easy_;
  std::unique_ptr<curl_slist, ListCloser> headers_;
  Attachment attached_{multi_};
  std::string buffer_;
  std::size_t begin_ = 0;
  bool paused_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  char error_[CURL_ERROR_SIZE] = {};
  Clock::time_point lastByte_;
  HttpHead head_;
};

class CurlClient : public HttpClient {
 public:
  explicit CurlClient(std::string userAgent) : userAgent_(std::move(userAgent)) {
    // Counted by libcurl: each client's init is matched by its cleanup.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi_ = curl_multi_init();
    if (!multi_) throw HttpError("cannot set up libcurl", HttpFault::kOther);
  }
  ~CurlClient() override {
    curl_multi_cleanup(multi_);
    curl_global_cleanup();
  }
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;

  // The multi handle keeps the connections, so that one request after another reuses them.
  std::unique_ptr<HttpBody> Send(const HttpRequest& request) override {
    return std::make_unique<CurlBody>(multi_, request, userAgent_);
  }

 private:
  std::string userAgent_;
  CURLM* multi_ = nullptr;
};

}  // namespace

std::unique_ptr<HttpClient> MakeHttpClient(const std::string& userAgent) {
  return std::make_unique<CurlClient>(userAgent);
}

}  // namespace quillet::services
