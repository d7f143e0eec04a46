// What `get` does after each exchange, as one table: every rule of retrying, resuming,
// reading again, skipping and stopping, and the readings of the headers it rests on.
#include <gtest/gtest.h>

#include <limits>

#include "services/Limits.h"
#include "services/get/Decide.h"

namespace quillet::services {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
constexpr auto kNow = std::chrono::system_clock::time_point(seconds(1714557600));  // 2024-05-01 10:00:00 UTC

struct Row {
  const char* name;
  Attempt attempt;
  Outcome outcome;
  Next next;
  FetchFailure failure;
  milliseconds wait;
  const char* said;  // part of the decision's words; "" for none
};

Attempt File(std::int64_t from = 0, std::int64_t received = 0, std::int64_t size = -1, std::string validator = "") {
  Attempt attempt;
  attempt.request = {"http://m/f.gz", false, from, from > 0 ? validator : std::string()};
  attempt.transfer = true;
  attempt.received = received;
  attempt.size = size;
  attempt.validator = std::move(validator);
  return attempt;
}
Attempt Head() {
  Attempt attempt;
  attempt.request = {"http://m/f.gz", true, 0, {}};
  return attempt;
}
Attempt With(Attempt attempt, int tries, milliseconds pause, bool firstContact = false) {
  attempt.tries = tries;
  attempt.pause = pause;
  attempt.firstContact = firstContact;
  return attempt;
}
Outcome Answer(int status, std::int64_t length = -1, std::string retryAfter = "") {
  Outcome outcome;
  outcome.head.status = status;
  outcome.head.length = length;
  outcome.head.retryAfter = std::move(retryAfter);
  return outcome;
}
Outcome Partial(std::int64_t start, std::int64_t whole) {
  Outcome outcome = Answer(206);
  outcome.head.rangeStart = start;
  outcome.head.rangeWhole = whole;
  return outcome;
}
Outcome Failed(HttpFault fault) { return {Outcome::Kind::kFailed, {}, fault, "what the client said"}; }
Outcome Ended() { return {Outcome::Kind::kBodyEnded, {}, HttpFault::kOther, {}}; }
Outcome Slow() { return {Outcome::Kind::kTooSlow, {}, HttpFault::kOther, {}}; }

TEST(Decide, EveryRuleOfRetryResumeRestartSkipAndStop) {
  const milliseconds none{0};
  const Row rows[] = {
      {"a file as asked", File(), Answer(200, 300), Next::kRead, FetchFailure::kNone, none, ""},
      {"a HEAD as asked", Head(), Answer(200, 300), Next::kRead, FetchFailure::kNone, none, ""},
      {"no HEAD on this server", Head(), Answer(405), Next::kRead, FetchFailure::kNone, none, ""},
      {"not found", File(), Answer(404), Next::kSkip, FetchFailure::kMissing, none, "not found (404)"},
      {"gone", Head(), Answer(410), Next::kSkip, FetchFailure::kMissing, none, "not found (410)"},
      {"forbidden", File(), Answer(403), Next::kSkip, FetchFailure::kRefused, none, "answered 403"},
      {"not implemented is not a busy server", File(), Answer(501), Next::kSkip, FetchFailure::kRefused, none,
       "answered 501"},
      {"a 206 to a request of the whole file", File(), Partial(0, 300), Next::kSkip, FetchFailure::kRefused, none,
       "answered 206"},
      {"busy, without Retry-After: the growing pause", With(File(), 3, seconds(4)), Answer(503), Next::kRetry,
       FetchFailure::kNone, seconds(4), "answered 503"},
      {"each status of the named list is retried", File(), Answer(408), Next::kRetry, FetchFailure::kNone, seconds(1),
       "answered 408"},
      {"502", File(), Answer(502), Next::kRetry, FetchFailure::kNone, seconds(1), "answered 502"},
      {"504", File(), Answer(504), Next::kRetry, FetchFailure::kNone, seconds(1), "answered 504"},
      {"Retry-After in seconds", File(), Answer(429, -1, "30"), Next::kRetry, FetchFailure::kNone, seconds(30), ""},
      {"Retry-After 0 waits the pause at least", With(File(), 2, seconds(2)), Answer(503, -1, "0"), Next::kRetry,
       FetchFailure::kNone, seconds(2), ""},
      {"Retry-After of a date past waits the pause at least", With(File(), 4, seconds(8)),
       Answer(503, -1, "Sun, 06 Nov 1994 08:49:37 GMT"), Next::kRetry, FetchFailure::kNone, seconds(8), ""},
      {"Retry-After past the cap waits the cap", File(), Answer(503, -1, "86400"), Next::kRetry, FetchFailure::kNone,
       limits::kGetLongestRetryAfter, ""},
      {"Retry-After as a date", File(), Answer(503, -1, "Wed, 01 May 2024 10:01:00 GMT"), Next::kRetry,
       FetchFailure::kNone, seconds(60), ""},
      {"the last try of a busy server", With(File(), limits::kGetTries, seconds(60)), Answer(503), Next::kStop,
       FetchFailure::kUnreachable, none, "gave up after 8 tries"},
      {"a size no file has", Head(), Answer(200, std::numeric_limits<std::int64_t>::max()), Next::kSkip,
       FetchFailure::kRefused, none, "declares 9,223,372,036,854,775,807 bytes"},
      {"a whole size no file has, in a range", File(100, 100, 300, "\"e\""), Partial(100, limits::kGetLargestFile + 1),
       Next::kSkip, FetchFailure::kRefused, none, "declares"},
      // Resuming.
      {"the rest as asked", File(100, 100, 300, "\"e\""), Partial(100, 300), Next::kRead, FetchFailure::kNone, none,
       ""},
      {"a 206 that starts elsewhere", File(100, 100, 300, "\"e\""), Partial(0, 300), Next::kRestart,
       FetchFailure::kRestart, none, "another part"},
      {"a 206 whose whole is another size", File(100, 100, 300, "\"e\""), Partial(100, 400), Next::kRestart,
       FetchFailure::kRestart, none, "changed size"},
      {"If-Range not matched: the whole file again", File(100, 100, 300, "\"e\""), Answer(200, 300), Next::kRestart,
       FetchFailure::kRestart, none, "from its start again"},
      {"416 to the rest of a file of known size", File(100, 100, 300, "\"e\""), Answer(416), Next::kRestart,
       FetchFailure::kRestart, none, ""},
      {"416 past the end of a file of unknown size: whole", File(100, 100, -1, "\"e\""), Answer(416), Next::kEnd,
       FetchFailure::kNone, none, ""},
      {"200 with just the bytes in hand: whole", File(100, 100, -1, "\"e\""), Answer(200, 100), Next::kEnd,
       FetchFailure::kNone, none, ""},
      // Cuts and silences.
      {"cut with a strong validator: resumed", File(0, 100, 300, "\"e\""), Failed(HttpFault::kCut), Next::kRetry,
       FetchFailure::kNone, seconds(1), ""},
      {"silent (the idle timeout) with a date: resumed", With(File(0, 100, 300, "Wed, 01 May 2024"), 2, seconds(2)),
       Failed(HttpFault::kCut), Next::kRetry, FetchFailure::kNone, seconds(2), ""},
      {"cut without a validator: read again, never spliced", File(0, 100, 300), Failed(HttpFault::kCut), Next::kRestart,
       FetchFailure::kRestart, none, "no ETag or Last-Modified"},
      {"cut before any byte: asked again", File(), Failed(HttpFault::kCut), Next::kRetry, FetchFailure::kNone,
       seconds(1), ""},
      {"cut at the last try", With(File(0, 100, 300, "\"e\""), limits::kGetTries, seconds(60)), Failed(HttpFault::kCut),
       Next::kStop, FetchFailure::kUnreachable, none, "gave up after 8 tries"},
      {"too slow: resumed", File(0, 100, 300, "\"e\""), Slow(), Next::kRetry, FetchFailure::kNone, seconds(1),
       "slower than"},
      {"closed short of its length: resumed", File(0, 100, 300, "\"e\""), Ended(), Next::kRetry, FetchFailure::kNone,
       seconds(1), "closed after 100 bytes of 300 bytes"},
      {"closed at its length: whole", File(0, 300, 300, "\"e\""), Ended(), Next::kEnd, FetchFailure::kNone, none, ""},
      {"closed without a length, with a validator: ask for the rest", File(0, 150, -1, "\"e\""), Ended(),
       Next::kAskRest, FetchFailure::kNone, none, ""},
      {"closed without a length, without a validator: taken as whole", File(0, 150, -1), Ended(), Next::kEnd,
       FetchFailure::kNone, none, ""},
      {"the look for the rest brought nothing: whole", File(150, 150, -1, "\"e\""), Ended(), Next::kEnd,
       FetchFailure::kNone, none, ""},
      // Connections.
      {"refused at the first contact", With(File(), 1, seconds(1), true), Failed(HttpFault::kConnect), Next::kRetry,
       FetchFailure::kNone, seconds(1), ""},
      {"refused at the first contact, the last of its few tries",
       With(File(), limits::kGetFirstContactTries, seconds(4), true), Failed(HttpFault::kConnect), Next::kStop,
       FetchFailure::kUnreachable, none, "gave up after 3 tries"},
      {"no such host at the first contact", With(Head(), limits::kGetFirstContactTries, seconds(4), true),
       Failed(HttpFault::kResolve), Next::kStop, FetchFailure::kUnreachable, none, ""},
      {"refused once a server has answered: the long schedule", With(File(), limits::kGetFirstContactTries, seconds(4)),
       Failed(HttpFault::kConnect), Next::kRetry, FetchFailure::kNone, seconds(4), ""},
      {"a certificate not trusted", File(), Failed(HttpFault::kUntrusted), Next::kStop, FetchFailure::kUntrusted, none,
       "certificate is not trusted"},
      {"a secure connection that fails otherwise", File(), Failed(HttpFault::kSecure), Next::kStop,
       FetchFailure::kUnreachable, none, "no secure connection"},
      {"a redirect to another protocol", File(), Failed(HttpFault::kRedirect), Next::kSkip, FetchFailure::kRefused,
       none, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Decision decision = Decide(row.attempt, row.outcome, kNow);
    EXPECT_EQ(decision.next, row.next);
    EXPECT_EQ(decision.failure, row.failure);
    if (row.next == Next::kRetry) {
      EXPECT_EQ(decision.wait, row.wait);
    }
    EXPECT_NE(decision.why.find(row.said), std::string::npos) << decision.why;
    // Only a certificate is said to be one.
    EXPECT_EQ(decision.why.find("certificate is not trusted") != std::string::npos,
              row.failure == FetchFailure::kUntrusted);
  }
}

TEST(Decide, ALowestSpeedOverAWindowOfWaiting) {
  struct Case {
    const char* name;
    std::int64_t bytes;
    milliseconds each;
    int reads;
    int slowFrom;  // the read that finds it too slow; 0: none
  };
  const Case cases[] = {
      {"a byte every 30 s", 1, seconds(30), 4, 2},
      {"a byte every 59 s, never silent for the idle timeout", 1, seconds(59), 3, 2},
      {"1 kB every second", 1000, seconds(1), 200, 0},
      {"a slow start that picks up", 100, seconds(10), 3, 0},
      {"fast reads between long waits", 64000, seconds(50), 10, 0},
  };
  for (const Case& c : cases) {
    SpeedWatch watch;
    int slowAt = 0;
    for (int read = 1; read <= c.reads && slowAt == 0; ++read)
      if (watch.Add(c.bytes, c.each)) slowAt = read;
    EXPECT_EQ(slowAt, c.slowFrom) << c.name;
  }
}

TEST(Decide, HeadersReadAsSentOrNotAtAll) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  struct Length {
    const char* text;
    std::int64_t value;
  };
  for (const Length& c :
       {Length{"300", 300}, Length{" 300 ", 300}, Length{"", -1}, Length{"-5", -1}, Length{"3e5", -1},
        Length{"0x10", -1}, Length{"9223372036854775807", kMax}, Length{"99999999999999999999999", kMax}})
    EXPECT_EQ(ParseContentLength(c.text), c.value) << c.text;
  struct Range {
    const char* text;
    std::int64_t start, whole;
  };
  for (const Range& c :
       {Range{"bytes 100-299/300", 100, 300}, Range{"bytes 100-299/*", 100, -1}, Range{"bytes 0-0/1", 0, 0 + 1},
        Range{"bytes 100-299/299", -1, -1}, Range{"bytes 300-100/400", -1, -1}, Range{"bytes -5-10/20", -1, -1},
        Range{"bytes 100-299", -1, -1}, Range{"items 100-299/300", -1, -1}, Range{"bytes */300", -1, -1},
        Range{"", -1, -1}, Range{"bytes 1-99999999999999999999/99999999999999999999", -1, -1}}) {
    HttpHead head;
    head.rangeStart = head.rangeWhole = 77;
    ParseContentRange(c.text, &head);
    EXPECT_EQ(head.rangeStart, c.start) << c.text;
    EXPECT_EQ(head.rangeWhole, c.whole) << c.text;
  }
}

}  // namespace
}  // namespace quillet::services
