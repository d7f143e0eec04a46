#pragma once
// Files on a web server as `get` reads them: requests retried with growing pauses (a 429 or
// 503 as its Retry-After says), and a download as a ByteSource whose cut transfer resumes
// with a range request, unseen by the reader that reads it as it would read a file.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "services/get/Http.h"
#include "services/import/Input.h"

namespace quillet::services {

// Why a fetch failed, for the run to decide what becomes of the file and of the run.
enum class FetchFailure {
  kNone,
  kMissing,      // 404 or 410: reported, the file skipped
  kNotGzip,      // not what the publisher serves (an error or log-in page sent as 200): skipped
  kRefused,      // another status the server keeps giving: skipped
  kRestart,      // cut, and the server sent the file from its start: read it again from there
  kUnreachable,  // no answer after every try: the run stops
  kUntrusted,    // a certificate not trusted, an address of another form: the run stops
};

class FetchError : public InputError {
 public:
  FetchError(FetchFailure failure, const std::string& what) : InputError(what), failure_(failure) {}
  FetchFailure Failure() const { return failure_; }

 private:
  FetchFailure failure_;
};

class Fetcher {
 public:
  using Pause = std::function<void(std::chrono::milliseconds)>;
  using Note = std::function<void(const std::string&)>;

  // note tells people about retries and waits; pause waits (the tests shorten it).
  Fetcher(HttpClient& client, Note note, Pause pause);

  // Sends the request until the answer is neither a transient failure nor 408, 429 or 5xx,
  // within limits::kGetTries tries, and returns it whatever its status. Throws FetchError.
  std::unique_ptr<HttpBody> Request(const HttpRequest& request);
  // The size of the file (HEAD); -1 when the server does not say. Throws FetchError
  // (kMissing for 404 and 410).
  std::int64_t Size(const std::string& url);
  // All of a small document, at most maxBytes. Throws FetchError.
  std::string Whole(const std::string& url, std::size_t maxBytes);
  // The file as a ByteSource: read as it arrives, resumed when cut. size is what the file is
  // expected to hold (-1: unknown) until the server says. With gzip, bytes that do not start
  // as gzip data are refused. Its Read throws FetchError, after setting *failure when given.
  std::unique_ptr<ByteSource> Open(const std::string& url, std::int64_t size, bool gzip,
                                   FetchFailure* failure = nullptr);

  void Wait(std::chrono::milliseconds time, const std::string& why);
  void Tell(const std::string& text) const {
    if (note_) note_(text);
  }

 private:
  HttpClient& client_;
  Note note_;
  Pause pause_;
};

// How long a Retry-After asks for: whole seconds, or an HTTP date (from now); negative when
// it says neither.
std::chrono::milliseconds RetryAfter(const std::string& value, std::chrono::system_clock::time_point now);

// Days from 1970-01-01 to a day of the Gregorian calendar (HTTP dates, the days of dumps).
std::int64_t DaysSince1970(std::int64_t year, unsigned month, unsigned day);

// "12.3 MB", "850 kB", "512 bytes".
std::string Megabytes(std::int64_t bytes);

}  // namespace quillet::services
