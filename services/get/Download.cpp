#include "services/get/Download.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "services/Limits.h"
#include "services/import/Report.h"

namespace quillet::services {
namespace {

using std::chrono::milliseconds;

milliseconds Longer(milliseconds pause) { return std::min(pause * 2, limits::kGetLongestPause); }

std::string Seconds(milliseconds time) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f s", static_cast<double>(time.count()) / 1000.0);
  return text;
}

// Statuses a retry may mend: the server is busy, down for a moment, or timed out.
bool Busy(int status) { return status == 408 || status == 429 || (status >= 500 && status != 501 && status != 505); }

class Download : public ByteSource {
 public:
  Download(Fetcher& fetcher, std::string url, std::int64_t size, bool gzip, FetchFailure* failure)
      : fetcher_(fetcher), url_(std::move(url)), length_(size), gzip_(gzip), failure_(failure) {}

  std::size_t Read(char* out, std::size_t size) override {
    while (true) {
      if (!body_) Connect();
      std::size_t n = 0;
      try {
        n = body_->Read(out, size);
      } catch (const HttpError& error) {
        if (!error.Transient()) Fail(FetchFailure::kUntrusted, error.what());
        Cut(error.what());
        continue;
      }
      if (n > 0) {
        CheckStart(out, n);
        received_ += static_cast<std::int64_t>(n);
        cuts_ = 0;
        pause_ = limits::kGetFirstPause;
        return n;
      }
      if (length_ >= 0 && received_ < length_) {
        Cut("the connection closed after " + Megabytes(received_) + " of " + Megabytes(length_));
        continue;
      }
      if (gzip_ && start_.size() < 2) Fail(FetchFailure::kNotGzip, url_ + " is empty, not gzip data");
      return 0;
    }
  }
  std::int64_t Size() const override { return std::max<std::int64_t>(length_, 0); }
  const std::string& Name() const override { return url_; }

 private:
  void Connect() {
    std::unique_ptr<HttpBody> body;
    try {
      body = fetcher_.Request({url_, false, received_, received_ > 0 ? validator_ : std::string()});
    } catch (const FetchError& error) {
      Fail(error.Failure(), error.what());
    }
    const HttpHead& head = body->Head();
    if (head.status == 404 || head.status == 410)
      Fail(FetchFailure::kMissing, url_ + ": not found (" + std::to_string(head.status) + ")");
    if (head.status != 200 && head.status != 206)
      Fail(FetchFailure::kRefused, url_ + ": the server answered " + std::to_string(head.status));
    if (received_ > 0 && (head.status != 206 || head.rangeStart != received_))
      Fail(FetchFailure::kRestart, url_ +
                                       ": the server sent the file from its start again (it does not resume "
                                       "transfers, or the file changed)");
    if (received_ == 0) {
      if (head.status != 200)
        Fail(FetchFailure::kRefused, url_ + ": the server answered " + std::to_string(head.status));
      length_ = head.length;
      // A strong ETag names these exact bytes; a weak one or a date is the best there is.
      validator_ = !head.etag.empty() && head.etag.rfind("W/", 0) != 0 ? head.etag : head.lastModified;
    }
    body_ = std::move(body);
  }

  void Cut(const std::string& why) {
    body_.reset();
    if (++cuts_ >= limits::kGetTries)
      Fail(FetchFailure::kUnreachable, url_ + ": " + why + "; gave up after " + std::to_string(cuts_) + " tries");
    fetcher_.Wait(pause_, url_ + ": " + why + "; resuming at " + Megabytes(received_));
    pause_ = Longer(pause_);
  }

  // Crawl files, rank lists and pageview dumps are all gzip: anything else is an error page
  // sent as a file (a proxy's, a hotel network's log-in page), not data.
  void CheckStart(const char* bytes, std::size_t n) {
    if (!gzip_ || start_.size() >= 2) return;
    start_.append(bytes, std::min<std::size_t>(n, 64));
    if (start_.size() >= 2 &&
        (static_cast<unsigned char>(start_[0]) != 0x1F || static_cast<unsigned char>(start_[1]) != 0x8B))
      Fail(FetchFailure::kNotGzip, url_ + " is not gzip data; the server sent " + Quoted(start_));
  }

  [[noreturn]] void Fail(FetchFailure failure, const std::string& what) {
    if (failure_) *failure_ = failure;
    throw FetchError(failure, what);
  }

  Fetcher& fetcher_;
  std::string url_;
  std::int64_t length_;
  bool gzip_;
  FetchFailure* failure_;
  std::unique_ptr<HttpBody> body_;
  std::int64_t received_ = 0;
  std::string validator_;
  std::string start_;
  int cuts_ = 0;
  milliseconds pause_ = limits::kGetFirstPause;
};

}  // namespace

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

std::string Megabytes(std::int64_t bytes) {
  char text[32];
  if (bytes >= 10 * 1000 * 1000) std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / 1e6);
  else if (bytes >= 1000 * 1000) std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  else if (bytes >= 1000) std::snprintf(text, sizeof text, "%.0f kB", static_cast<double>(bytes) / 1e3);
  else std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
  return text;
}

Fetcher::Fetcher(HttpClient& client, Note note, Pause pause)
    : client_(client), note_(std::move(note)), pause_(std::move(pause)) {}

void Fetcher::Wait(milliseconds time, const std::string& why) {
  Tell(why + "; trying again in " + Seconds(time));
  pause_(time);
}

std::unique_ptr<HttpBody> Fetcher::Request(const HttpRequest& request) {
  milliseconds pause = limits::kGetFirstPause;
  for (int tries = 1;; ++tries) {
    std::string why;
    milliseconds wait = pause;
    try {
      std::unique_ptr<HttpBody> body = client_.Send(request);
      const HttpHead& head = body->Head();
      if (!Busy(head.status)) return body;
      why = request.url + ": the server answered " + std::to_string(head.status);
      if (head.status == 429 || head.status == 503) {
        milliseconds asked = RetryAfter(head.retryAfter, std::chrono::system_clock::now());
        if (asked >= milliseconds(0)) wait = std::min(asked, limits::kGetLongestRetryAfter);
      }
    } catch (const HttpError& error) {
      if (!error.Transient()) throw FetchError(FetchFailure::kUntrusted, error.what());
      why = error.what();
    }
    if (tries >= limits::kGetTries)
      throw FetchError(FetchFailure::kUnreachable, why + "; gave up after " + std::to_string(tries) + " tries");
    Wait(wait, why);
    pause = Longer(pause);
  }
}

std::int64_t Fetcher::Size(const std::string& url) {
  std::unique_ptr<HttpBody> body = Request({url, true, 0, {}});
  const int status = body->Head().status;
  if (status == 404 || status == 410)
    throw FetchError(FetchFailure::kMissing, url + ": not found (" + std::to_string(status) + ")");
  if (status == 405) return -1;  // no HEAD here: the size comes with the file
  if (status != 200) throw FetchError(FetchFailure::kRefused, url + ": the server answered " + std::to_string(status));
  return body->Head().length;
}

std::string Fetcher::Whole(const std::string& url, std::size_t maxBytes) {
  std::unique_ptr<ByteSource> source = Open(url, -1, false);
  std::string text;
  char chunk[16384];
  while (std::size_t n = source->Read(chunk, sizeof chunk)) {
    text.append(chunk, n);
    if (text.size() > maxBytes)
      throw FetchError(FetchFailure::kRefused,
                       url + " is larger than " + Megabytes(static_cast<std::int64_t>(maxBytes)));
  }
  return text;
}

std::unique_ptr<ByteSource> Fetcher::Open(const std::string& url, std::int64_t size, bool gzip, FetchFailure* failure) {
  return std::make_unique<Download>(*this, url, size, gzip, failure);
}

}  // namespace quillet::services
