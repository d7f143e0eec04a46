#include "services/get/Decide.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "protocol/Format.h"
#include "services/Limits.h"

namespace quillet::services {
namespace {

using std::chrono::milliseconds;

// The statuses a retry may mend: the server timed out, is busy, or is down for a moment.
constexpr int kRetryStatuses[] = {408, 429, 500, 502, 503, 504};

bool Busy(int status) {
  return std::find(std::begin(kRetryStatuses), std::end(kRetryStatuses), status) != std::end(kRetryStatuses);
}

std::string Answered(int status) { return "the server answered " + std::to_string(status); }

Decision Retry(const Attempt& attempt, const std::string& why, milliseconds wait, int tries) {
  if (attempt.tries >= tries)
    return {Next::kStop, FetchFailure::kUnreachable, milliseconds(0),
            why + "; gave up after " + std::to_string(attempt.tries) + " tries"};
  return {Next::kRetry, FetchFailure::kNone, wait, why};
}

Decision Restart(const std::string& why) { return {Next::kRestart, FetchFailure::kRestart, milliseconds(0), why}; }

// The connection was lost after the exchange had begun. With a validator the rest is asked
// for; without one the file is read again, since a splice could join two versions of it.
Decision Cut(const Attempt& attempt, const std::string& why) {
  if (attempt.transfer && attempt.received > 0 && attempt.validator.empty())
    return Restart(why +
                   "; the server names no version of the file (no ETag or Last-Modified), so what was read of "
                   "it cannot be joined to the rest");
  return Retry(attempt, why, attempt.pause, limits::kGetTries);
}

Decision FromAnswer(const Attempt& attempt, const HttpHead& head, std::chrono::system_clock::time_point now) {
  const int status = head.status;
  if (Busy(status)) {
    milliseconds wait = attempt.pause;
    const milliseconds asked = RetryAfter(head.retryAfter, now);
    if (asked >= milliseconds(0)) wait = std::max(attempt.pause, std::min(asked, limits::kGetLongestRetryAfter));
    return Retry(attempt, Answered(status), wait, limits::kGetTries);
  }
  if (status == 404 || status == 410)
    return {Next::kSkip, FetchFailure::kMissing, milliseconds(0), "not found (" + std::to_string(status) + ")"};
  const std::int64_t declared = std::max(head.length, head.rangeWhole);
  if (declared > limits::kGetLargestFile)
    return {
        Next::kSkip, FetchFailure::kRefused, milliseconds(0),
        "the server declares " + protocol::Thousands(declared) + " bytes, more than any file of the publishers holds"};
  const Decision refused{Next::kSkip, FetchFailure::kRefused, milliseconds(0), Answered(status)};
  if (attempt.request.head) return status == 200 || status == 405 || status == 501 ? Decision{} : refused;
  if (attempt.request.from == 0) return status == 200 ? Decision{} : refused;
  // The rest of a transfer, or a look past the end of one of unknown length.
  if (status == 206) {
    if (head.rangeStart != attempt.request.from) return Restart("the server sent another part of the file than asked");
    if (attempt.size >= 0 && head.rangeWhole >= 0 && head.rangeWhole != attempt.size)
      return Restart("the file changed size on the server");
    return {};
  }
  if (attempt.size < 0 && (status == 416 || (status == 200 && head.length == attempt.request.from)))
    return {Next::kEnd, FetchFailure::kNone, milliseconds(0), {}};
  if (status == 200 || status == 416)
    return Restart("the server sent the file from its start again (it does not resume transfers, or the file changed)");
  return refused;
}

Decision FromFailure(const Attempt& attempt, const Outcome& outcome) {
  const std::string& what = outcome.what;
  switch (outcome.fault) {
    case HttpFault::kUntrusted:
      return {Next::kStop, FetchFailure::kUntrusted, milliseconds(0),
              what + ": the server's certificate is not trusted"};
    case HttpFault::kSecure:
      return {Next::kStop, FetchFailure::kUnreachable, milliseconds(0),
              what +
                  ": no secure connection could be made (the server's certificate may not be trusted on this "
                  "computer, or the two share no secure protocol)"};
    case HttpFault::kRedirect: return {Next::kSkip, FetchFailure::kRefused, milliseconds(0), what};
    case HttpFault::kAddress:
    case HttpFault::kOther: return {Next::kStop, FetchFailure::kUnreachable, milliseconds(0), what};
    case HttpFault::kResolve:
    case HttpFault::kConnect:
      if (attempt.firstContact) return Retry(attempt, what, attempt.pause, limits::kGetFirstContactTries);
      return Cut(attempt, what);
    case HttpFault::kCut: return Cut(attempt, what);
  }
  return {Next::kStop, FetchFailure::kUnreachable, milliseconds(0), what};
}

Decision FromEnd(const Attempt& attempt) {
  if (!attempt.transfer) return {Next::kEnd, FetchFailure::kNone, milliseconds(0), {}};
  if (attempt.size >= 0) {
    if (attempt.received >= attempt.size) return {Next::kEnd, FetchFailure::kNone, milliseconds(0), {}};
    return Cut(attempt, "the connection closed after " + protocol::Bytes(attempt.received) + " of " +
                            protocol::Bytes(attempt.size));
  }
  // Once a look past the end brought nothing, the end is the end.
  if (attempt.validator.empty() || attempt.request.from == attempt.received)
    return {Next::kEnd, FetchFailure::kNone, milliseconds(0), {}};
  return {Next::kAskRest, FetchFailure::kNone, milliseconds(0), {}};
}

}  // namespace

Decision Decide(const Attempt& attempt, const Outcome& outcome, std::chrono::system_clock::time_point now) {
  switch (outcome.kind) {
    case Outcome::Kind::kAnswer: return FromAnswer(attempt, outcome.head, now);
    case Outcome::Kind::kFailed: return FromFailure(attempt, outcome);
    case Outcome::Kind::kBodyEnded: return FromEnd(attempt);
    case Outcome::Kind::kTooSlow:
      return Cut(attempt, "slower than " + protocol::Bytes(limits::kGetLowestSpeed) + " a second for " +
                              protocol::Duration(std::chrono::duration<double>(limits::kGetSpeedWindow).count()));
  }
  return {};
}

std::string Validator(const HttpHead& head) {
  return !head.etag.empty() && head.etag.rfind("W/", 0) != 0 ? head.etag : head.lastModified;
}

bool SpeedWatch::Add(std::int64_t bytes, milliseconds waited) {
  samples_.emplace_back(waited, bytes);
  waited_ += waited;
  bytes_ += bytes;
  while (samples_.size() > 1 && waited_ - samples_.front().first >= limits::kGetSpeedWindow) {
    waited_ -= samples_.front().first;
    bytes_ -= samples_.front().second;
    samples_.pop_front();
  }
  return waited_ >= limits::kGetSpeedWindow && bytes_ * 1000 < limits::kGetLowestSpeed * waited_.count();
}

void SpeedWatch::Reset() {
  samples_.clear();
  waited_ = milliseconds(0);
  bytes_ = 0;
}

std::int64_t ParseContentLength(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  if (value.empty()) return -1;
  std::int64_t number = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return -1;
    const int digit = c - '0';
    number = number > (std::numeric_limits<std::int64_t>::max() - digit) / 10 ? std::numeric_limits<std::int64_t>::max()
                                                                              : number * 10 + digit;
  }
  return number;
}

void ParseContentRange(std::string_view value, HttpHead* head) {
  head->rangeStart = head->rangeWhole = -1;
  constexpr std::string_view kUnit = "bytes ";
  if (value.substr(0, kUnit.size()) != kUnit) return;
  value.remove_prefix(kUnit.size());
  const std::size_t dash = value.find('-'), slash = value.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return;
  const std::int64_t first = ParseContentLength(value.substr(0, dash));
  const std::int64_t last = ParseContentLength(value.substr(dash + 1, slash - dash - 1));
  const std::string_view wholeText = value.substr(slash + 1);
  const std::int64_t whole = wholeText == "*" ? -1 : ParseContentLength(wholeText);
  if (first < 0 || last < first || (wholeText != "*" && (whole < 0 || last >= whole))) return;
  head->rangeStart = first;
  head->rangeWhole = whole;
}

std::int64_t DaysSince1970(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

milliseconds RetryAfter(const std::string& value, std::chrono::system_clock::time_point now) {
  if (!value.empty() && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return value.size() > 9 ? limits::kGetLongestRetryAfter : milliseconds(std::stoll(value) * 1000);
  // "Sun, 06 Nov 1994 08:49:37 GMT"
  char month[4] = {};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(value.c_str(), "%*3s, %2d %3s %4d %2d:%2d:%2d GMT", &day, month, &year, &hour, &minute, &second) != 6)
    return milliseconds(-1);
  const char* months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const char* found = std::strstr(months, month);
  if (!found || std::strlen(month) != 3 || (found - months) % 3 != 0) return milliseconds(-1);
  unsigned monthNumber = static_cast<unsigned>((found - months) / 3 + 1);
  std::int64_t at =
      DaysSince1970(year, monthNumber, static_cast<unsigned>(day)) * 86400 + hour * 3600 + minute * 60 + second;
  std::int64_t from = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  return milliseconds(std::max<std::int64_t>(0, at - from) * 1000);
}

}  // namespace quillet::services
