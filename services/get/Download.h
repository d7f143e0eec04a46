#pragma once
// Files on a web server as `get` reads them: requests sent again as the decisions of
// Decide.h say (with growing pauses, a 429 or 503 as its Retry-After says), and a download as
// a ByteSource whose cut transfer resumes with a range request, unseen by the reader that
// reads it as it would read a file. Addresses are shown without the user name and password
// they may hold.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "services/get/Decide.h"
#include "services/get/Http.h"
#include "services/import/Input.h"

namespace quillet::services {

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
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // note tells people about retries and waits; pause waits and clock tells the time spent
  // waiting for bytes (the tests replace both; clock may be null for the steady clock).
  Fetcher(HttpClient& client, Note note, Pause pause, Clock clock = nullptr);

  // The size of the file (HEAD); -1 when the server does not say. Throws FetchError
  // (kMissing for 404 and 410).
  std::int64_t Size(const std::string& url);
  // All of a small document, at most maxBytes. Throws FetchError.
  std::string Whole(const std::string& url, std::size_t maxBytes);
  // The file as a ByteSource: read as it arrives, resumed when cut. planned is what the file
  // is expected to hold (-1: unknown), for progress until the server says. With gzip, bytes
  // that do not start as gzip data are refused. Its Read throws FetchError, after setting
  // *failure when given.
  std::unique_ptr<ByteSource> Open(const std::string& url, std::int64_t planned, bool gzip,
                                   FetchFailure* failure = nullptr);

  // Whether any server has answered since this fetcher was made: until then a connection
  // that fails is given up sooner (limits::kGetFirstContactTries).
  bool Answered() const { return answered_; }

  // What a download needs of its fetcher.
  struct Sent {
    std::unique_ptr<HttpBody> body;  // when decision.next is kRead
    Decision decision;
  };
  // Sends attempt->request and, as long as the decision is to retry, waits and sends it
  // again (counting tries and growing the pause in *attempt); returns the first other
  // decision. shown: the address as people see it.
  Sent Send(Attempt* attempt, const std::string& shown, const std::string& resuming = {});
  void Wait(std::chrono::milliseconds time, const std::string& why);
  std::chrono::steady_clock::time_point Now() const;

 private:
  HttpClient& client_;
  Note note_;
  Pause pause_;
  Clock clock_;
  bool answered_ = false;
};

}  // namespace quillet::services
