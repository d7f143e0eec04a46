#pragma once
// What `get` does after each exchange with a server: read the answer, retry, resume, read the
// file again from its start, skip it or stop the run. Decided in one pure function from the
// request sent, what is known of the transfer and what came back, so that every rule is in one
// place and is tested as a table; Fetcher and its downloads only carry it out.
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

#include "services/get/Http.h"

namespace quillet::services {

// Why a fetch failed, for the run to decide what becomes of the file and of the run.
enum class FetchFailure {
  kNone,
  kMissing,      // 404 or 410: reported, the file skipped
  kNotGzip,      // not what the publisher serves (an error or log-in page sent as 200): skipped
  kEmpty,        // gzip data that holds nothing to store (a block page, an empty file): skipped
  kRefused,      // another status, an unbelievable size, a redirect elsewhere: skipped
  kRestart,      // the bytes cannot be resumed or are not the file: read it again from its start
  kUnreachable,  // no answer after every try, or no connection at the first contact: the run stops
  kUntrusted,    // the server's certificate is not trusted: the run stops
};

// A failure that skips the file and lets the run go on.
constexpr bool Skippable(FetchFailure failure) {
  return failure == FetchFailure::kMissing || failure == FetchFailure::kNotGzip || failure == FetchFailure::kEmpty ||
         failure == FetchFailure::kRefused || failure == FetchFailure::kRestart;
}

enum class Next {
  kRead,     // the answer is the one asked for: read its body
  kEnd,      // the file is whole (the answer's body, if any, is not wanted)
  kRetry,    // after `wait`, ask again: the same request, or for a transfer the rest of the file
  kAskRest,  // at once, ask for what follows the bytes in hand: a body of unknown length ended,
             // which a closed connection looks like whether or not the file is whole
  kRestart,  // read the file again from its start (what was read of it cannot be trusted)
  kSkip,     // report the file and go on without it
  kStop,     // report and stop the run
};

// What is known when deciding.
struct Attempt {
  HttpRequest request;                    // the request just sent
  bool transfer = false;                  // the answer's body is a file's bytes (not a HEAD or a small document)
  std::int64_t received = 0;              // bytes of the file in hand, this exchange's included
  std::int64_t size = -1;                 // the file's whole size as known; -1: not known
  std::string validator;                  // what If-Range would send for the bytes in hand; empty: none
  int tries = 1;                          // tries of this request since a byte last arrived, this one included
  bool firstContact = false;              // no server has answered yet in this run
  std::chrono::milliseconds pause{1000};  // what the growing schedule would wait now
};

struct Outcome {
  enum class Kind {
    kAnswer,     // the head arrived
    kFailed,     // the exchange failed (before the head or while reading the body)
    kBodyEnded,  // the body ended cleanly
    kTooSlow,    // the body came slower than limits::kGetLowestSpeed
  };
  Kind kind = Kind::kAnswer;
  HttpHead head;                        // kAnswer
  HttpFault fault = HttpFault::kOther;  // kFailed
  std::string what;                     // kFailed: the client's words
};

struct Decision {
  Next next = Next::kRead;
  FetchFailure failure = FetchFailure::kNone;  // kSkip, kStop
  std::chrono::milliseconds wait{0};           // kRetry
  std::string why;                             // what happened, for people (not for kRead, kEnd)
};

Decision Decide(const Attempt& attempt, const Outcome& outcome, std::chrono::system_clock::time_point now);

// The validator a resumed request may name: a strong ETag names these exact bytes; without
// one, Last-Modified is the best there is; a weak ETag names none (servers ignore it in
// If-Range and send the whole file).
std::string Validator(const HttpHead& head);

// Whether a transfer has become too slow to go on: under limits::kGetLowestSpeed on average
// over the last limits::kGetSpeedWindow of time spent waiting for bytes.
class SpeedWatch {
 public:
  // bytes arrived after waiting `waited`; true when the transfer is too slow.
  bool Add(std::int64_t bytes, std::chrono::milliseconds waited);
  void Reset();

 private:
  std::deque<std::pair<std::chrono::milliseconds, std::int64_t>> samples_;
  std::chrono::milliseconds waited_{0};
  std::int64_t bytes_ = 0;
};

// How long a Retry-After asks for: whole seconds, or an HTTP date (from now); negative when
// it says neither.
std::chrono::milliseconds RetryAfter(const std::string& value, std::chrono::system_clock::time_point now);

// Days from 1970-01-01 to a day of the Gregorian calendar (HTTP dates, the days of dumps).
std::int64_t DaysSince1970(std::int64_t year, unsigned month, unsigned day);

}  // namespace quillet::services
