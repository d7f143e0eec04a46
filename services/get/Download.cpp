#include "services/get/Download.h"

#include <algorithm>

#include "protocol/Format.h"
#include "protocol/Mirror.h"
#include "services/Limits.h"
#include "services/import/Report.h"

namespace quillet::services {
namespace {

using std::chrono::milliseconds;

void Grow(Attempt* attempt) {
  ++attempt->tries;
  attempt->pause = std::min(attempt->pause * 2, limits::kGetLongestPause);
}

class Download : public ByteSource {
 public:
  Download(Fetcher& fetcher, std::string url, std::int64_t planned, bool gzip, FetchFailure* failure)
      : fetcher_(fetcher),
        url_(std::move(url)),
        shown_(protocol::WithoutCredentials(url_)),
        planned_(planned),
        gzip_(gzip),
        failure_(failure) {
    attempt_.transfer = true;
  }

  std::size_t Read(char* out, std::size_t size) override {
    while (true) {
      if (tooSlow_) {
        tooSlow_ = false;
        body_.reset();
        Carry(Decide(Known(), {Outcome::Kind::kTooSlow, {}, HttpFault::kOther, {}}, Now()));
      }
      if (!body_ && !Connect()) return Ended();
      std::size_t n = 0;
      const auto before = fetcher_.Now();
      try {
        n = body_->Read(out, size);
      } catch (const HttpError& error) {
        body_.reset();
        Carry(Decide(Known(), {Outcome::Kind::kFailed, {}, error.Fault(), error.what()}, Now()));
        continue;
      }
      const auto waited = std::chrono::duration_cast<milliseconds>(fetcher_.Now() - before);
      if (n == 0) {
        body_.reset();
        const Decision decision = Decide(Known(), {Outcome::Kind::kBodyEnded, {}, HttpFault::kOther, {}}, Now());
        if (decision.next == Next::kEnd) return Ended();
        if (decision.next != Next::kAskRest) Carry(decision);
        continue;
      }
      CheckStart(out, n);
      received_ += static_cast<std::int64_t>(n);
      attempt_.tries = 1;
      attempt_.pause = limits::kGetFirstPause;
      // The bytes that came are used; the transfer is taken for cut at the next read.
      tooSlow_ = speed_.Add(static_cast<std::int64_t>(n), waited);
      return n;
    }
  }
  std::int64_t Size() const override { return std::max<std::int64_t>(size_ >= 0 ? size_ : planned_, 0); }
  const std::string& Name() const override { return shown_; }

 private:
  static std::chrono::system_clock::time_point Now() { return std::chrono::system_clock::now(); }

  // The attempt as it stands, for a decision about the exchange under way.
  Attempt& Known() {
    attempt_.received = received_;
    attempt_.size = size_;
    attempt_.validator = validator_;
    return attempt_;
  }

  // Asks for the file, or for what follows the bytes in hand; false when it is whole.
  bool Connect() {
    attempt_.request = {url_, false, received_, received_ > 0 ? validator_ : std::string()};
    Fetcher::Sent sent =
        fetcher_.Send(&Known(), shown_, received_ > 0 ? "resuming at " + protocol::Bytes(received_) : "");
    if (sent.decision.next == Next::kEnd) return false;
    if (sent.decision.next != Next::kRead) Fail(sent.decision.failure, shown_ + ": " + sent.decision.why);
    const HttpHead& head = sent.body->Head();
    if (received_ == 0) {
      size_ = head.length;
      validator_ = Validator(head);
    } else if (size_ < 0) {
      size_ = head.rangeWhole;
    }
    body_ = std::move(sent.body);
    speed_.Reset();
    return true;
  }

  // Carries out a decision about a transfer that broke off: waits before asking for the rest,
  // or fails the read.
  void Carry(const Decision& decision) {
    if (decision.next != Next::kRetry) Fail(decision.failure, shown_ + ": " + decision.why);
    fetcher_.Wait(decision.wait,
                  shown_ + ": " + decision.why + (received_ > 0 ? "; resuming at " + protocol::Bytes(received_) : ""));
    Grow(&attempt_);
  }

  std::size_t Ended() {
    if (gzip_ && start_.size() < 2) Fail(FetchFailure::kNotGzip, shown_ + " is empty, not gzip data");
    return 0;
  }

  // Crawl files, rank lists and pageview dumps are all gzip: anything else is an error page
  // sent as a file (a proxy's, a hotel network's log-in page), not data.
  void CheckStart(const char* bytes, std::size_t n) {
    if (!gzip_ || start_.size() >= 2) return;
    start_.append(bytes, std::min<std::size_t>(n, 64));
    if (start_.size() >= 2 &&
        (static_cast<unsigned char>(start_[0]) != 0x1F || static_cast<unsigned char>(start_[1]) != 0x8B))
      Fail(FetchFailure::kNotGzip, shown_ + " is not gzip data; the server sent " + Quoted(start_));
  }

  [[noreturn]] void Fail(FetchFailure failure, const std::string& what) {
    if (failure_) *failure_ = failure;
    throw FetchError(failure, what);
  }

  Fetcher& fetcher_;
  std::string url_;
  std::string shown_;
  std::int64_t planned_;
  bool gzip_;
  FetchFailure* failure_;
  std::unique_ptr<HttpBody> body_;
  Attempt attempt_;
  std::int64_t received_ = 0;
  std::int64_t size_ = -1;  // as the server said it
  std::string validator_;
  std::string start_;
  SpeedWatch speed_;
  bool tooSlow_ = false;
};

}  // namespace

Fetcher::Fetcher(HttpClient& client, Note note, Pause pause, Clock clock)
    : client_(client), note_(std::move(note)), pause_(std::move(pause)), clock_(std::move(clock)) {}

std::chrono::steady_clock::time_point Fetcher::Now() const {
  return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void Fetcher::Wait(milliseconds time, const std::string& why) {
  if (note_) note_(why + "; trying again in " + protocol::Duration(std::chrono::duration<double>(time).count()));
  pause_(time);
}

Fetcher::Sent Fetcher::Send(Attempt* attempt, const std::string& shown, const std::string& resuming) {
  while (true) {
    Outcome outcome;
    std::unique_ptr<HttpBody> body;
    attempt->firstContact = !answered_;
    try {
      body = client_.Send(attempt->request);
      outcome.head = body->Head();
      answered_ = true;
    } catch (const HttpError& error) {
      outcome = {Outcome::Kind::kFailed, {}, error.Fault(), error.what()};
    }
    Decision decision = Decide(*attempt, outcome, std::chrono::system_clock::now());
    if (decision.next != Next::kRetry) return {decision.next == Next::kRead ? std::move(body) : nullptr, decision};
    body.reset();
    Wait(decision.wait, shown + ": " + decision.why + (resuming.empty() ? "" : "; " + resuming));
    Grow(attempt);
  }
}

std::int64_t Fetcher::Size(const std::string& url) {
  Attempt attempt;
  attempt.request = {url, true, 0, {}};
  const std::string shown = protocol::WithoutCredentials(url);
  Sent sent = Send(&attempt, shown);
  if (sent.decision.next != Next::kRead) throw FetchError(sent.decision.failure, shown + ": " + sent.decision.why);
  const HttpHead& head = sent.body->Head();
  // No HEAD here: the size comes with the file.
  return head.status == 200 ? head.length : -1;
}

std::string Fetcher::Whole(const std::string& url, std::size_t maxBytes) {
  std::unique_ptr<ByteSource> source = Open(url, -1, false);
  std::string text;
  char chunk[16384];
  while (std::size_t n = source->Read(chunk, sizeof chunk)) {
    text.append(chunk, n);
    if (text.size() > maxBytes)
      throw FetchError(FetchFailure::kRefused,
                       source->Name() + " is larger than " + protocol::Bytes(static_cast<std::int64_t>(maxBytes)));
  }
  return text;
}

std::unique_ptr<ByteSource> Fetcher::Open(const std::string& url, std::int64_t planned, bool gzip,
                                          FetchFailure* failure) {
  return std::make_unique<Download>(*this, url, planned, gzip, failure);
}

}  // namespace quillet::services
