#pragma once
// The one small HTTP client interface `get` needs: a GET or HEAD, optionally of a range, whose
// body is pulled as the reader wants it. Implemented over libcurl on Linux and WinHTTP on
// Windows; both check the server's certificate against the system's certificate store
// (Linux: also SSL_CERT_FILE, as OpenSSL's own tools read it) and take proxies as the system
// sets them (Linux: http_proxy, https_proxy, no_proxy; Windows: the user's proxy settings).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillet::services {

struct HttpRequest {
  std::string url;  // http:// or https://
  bool head = false;
  std::int64_t from = 0;  // asks for the bytes from here on (Range) when above 0
  // With a range: the validator (ETag, else Last-Modified) of the bytes already read, so that
  // a file changed since is sent whole (200) instead of spliced.
  std::string ifRange;
};

// The status and the headers `get` reads.
struct HttpHead {
  int status = 0;
  std::int64_t length = -1;      // Content-Length; -1 when not sent or not a number
  std::int64_t rangeStart = -1;  // first byte of a 206 answer (Content-Range); -1 when none or malformed
  std::int64_t rangeWhole = -1;  // the whole file's size as Content-Range says it; -1 when not said
  std::string retryAfter;        // seconds or an HTTP date, as sent
  std::string etag;
  std::string lastModified;
};

// A Content-Length as sent: a whole number, at most the largest int64 (larger ones are
// taken as that); -1 when it is none.
std::int64_t ParseContentLength(std::string_view value);
// Sets head->rangeStart and rangeWhole from a Content-Range "bytes FIRST-LAST/WHOLE" (WHOLE
// may be "*"); both -1 when it is malformed (LAST before FIRST, LAST at or past WHOLE).
void ParseContentRange(std::string_view value, HttpHead* head);

// What went wrong with an exchange, for the decision of what to do about it.
enum class HttpFault {
  kResolve,    // the host name could not be resolved
  kConnect,    // no connection: refused, unreachable, or not made within the connect time
  kCut,        // the connection broke or fell silent for limits::kGetIdleTimeout once made
  kUntrusted,  // the server's certificate is not trusted (or not valid for it)
  kSecure,     // the secure connection failed for another reason
  kRedirect,   // a redirect to another protocol, or too many of them
  kAddress,    // an address of a form the client cannot ask
  kOther,      // the client itself failed (out of memory)
};

// The exchange failed; what() says how, for people.
class HttpError : public std::runtime_error {
 public:
  HttpError(const std::string& what, HttpFault fault) : std::runtime_error(what), fault_(fault) {}
  HttpFault Fault() const { return fault_; }

 private:
  HttpFault fault_;
};

// One answer: its head has arrived; its body is read as it comes. Dropping it ends the
// exchange (the connection is closed when the body was not read to its end).
class HttpBody {
 public:
  virtual ~HttpBody() = default;
  virtual const HttpHead& Head() const = 0;
  // Up to size bytes of the body, at least one unless at its end (0). Throws HttpError when
  // the connection fails or no byte arrives for limits::kGetIdleTimeout; bytes that arrived
  // before a failure are handed out first.
  virtual std::size_t Read(char* out, std::size_t size) = 0;
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Sends the request and waits for the answer's head. Redirects are followed. Throws
  // HttpError.
  virtual std::unique_ptr<HttpBody> Send(const HttpRequest& request) = 0;
};

// The platform's client, sending userAgent with every request. One exchange at a time.
std::unique_ptr<HttpClient> MakeHttpClient(const std::string& userAgent);

}  // namespace quillet::services
