#pragma once
// An HttpClient for the tests and fuzzers of `get` without a network: each request answered
// by a function (a script of exact exchanges, a fuzzer's bytes), or by a publisher's folder
// served as a web server serves it (HEAD, ranges with If-Range) with faults planted per file.
// It keeps a clock of its own that bodies move on as they hand bytes out and pauses move on
// as they wait, so that time limits are tested without waiting.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "services/get/Download.h"
#include "services/get/Http.h"

namespace quillet::services::testing {

using std::chrono::milliseconds;

// One answer, and how it goes wrong.
struct Reply {
  HttpHead head;
  std::string body;
  std::size_t cutAfter = SIZE_MAX;   // the body breaks off (HttpError kCut) after this many bytes
  std::size_t piece = SIZE_MAX;      // bytes handed out per read
  milliseconds perPiece{0};          // how long each piece takes to arrive
  std::optional<HttpFault> refused;  // Send fails so, with no answer
};

inline Reply Status(int status) {
  Reply reply;
  reply.head.status = status;
  return reply;
}

// A request as the tests write what they expect: "GET URL", "HEAD URL", then " from=N" and
// " if-range=V" when it asks for a range.
inline std::string Describe(const HttpRequest& request) {
  std::string text = (request.head ? "HEAD " : "GET ") + request.url;
  if (request.from > 0) text += " from=" + std::to_string(request.from);
  if (!request.ifRange.empty()) text += " if-range=" + request.ifRange;
  return text;
}

class ScriptedHttp : public HttpClient {
 public:
  using Answer = std::function<Reply(const HttpRequest&)>;
  explicit ScriptedHttp(Answer answer) : answer_(std::move(answer)) {}

  std::unique_ptr<HttpBody> Send(const HttpRequest& request) override {
    sent_.push_back(Describe(request));
    Reply reply = answer_(request);
    if (reply.refused) throw HttpError("refused by the script", *reply.refused);
    return std::make_unique<Body>(*this, std::move(reply));
  }

  const std::vector<std::string>& Sent() const { return sent_; }
  std::chrono::steady_clock::time_point Now() const { return std::chrono::steady_clock::time_point(now_); }
  void Pause(milliseconds time) {
    waits_.push_back(time);
    now_ += time;
  }
  const std::vector<milliseconds>& Waits() const { return waits_; }
  milliseconds Waited() const {
    milliseconds all{0};
    for (milliseconds wait : waits_) all += wait;
    return all;
  }
  // A fetcher over this client, on its clock.
  Fetcher MakeFetcher(Fetcher::Note note) {
    return Fetcher(
        *this, std::move(note), [this](milliseconds time) { Pause(time); }, [this] { return Now(); });
  }

 private:
  class Body : public HttpBody {
   public:
    Body(ScriptedHttp& client, Reply reply) : client_(client), reply_(std::move(reply)) {}
    const HttpHead& Head() const override { return reply_.head; }
    std::size_t Read(char* out, std::size_t size) override {
      const std::size_t end = std::min(reply_.body.size(), reply_.cutAfter);
      if (at_ == end) {
        if (end < reply_.body.size()) throw HttpError("connection reset by the script", HttpFault::kCut);
        return 0;
      }
      const std::size_t n = std::min({size, reply_.piece, end - at_});
      std::memcpy(out, reply_.body.data() + at_, n);
      at_ += n;
      client_.now_ += reply_.perPiece;
      return n;
    }

   private:
    ScriptedHttp& client_;
    Reply reply_;
    std::size_t at_ = 0;
  };

  Answer answer_;
  std::vector<std::string> sent_;
  std::vector<milliseconds> waits_;
  milliseconds now_{0};
};

// A publisher's folder served at base (with or without a user name and password before its
// host), as nginx serves it: a strong ETag and Last-Modified per file, Content-Length, ranges
// when If-Range names the file's ETag. The faults planted for a path change its answers in
// order: the first one changes the next answer it applies to (returning true).
class Publisher {
 public:
  using Fault = std::function<bool(const HttpRequest&, Reply&)>;
  Publisher(std::string root, std::string base) : root_(std::move(root)), base_(std::move(base)) {}

  void Plant(const std::string& path, Fault fault) { faults_[path].push_back(std::move(fault)); }
  std::size_t FaultsLeft() const {
    std::size_t left = 0;
    for (const auto& [path, faults] : faults_) left += faults.size();
    return left;
  }
  std::string Read(const std::string& path) const {
    std::ifstream file(root_ + "/" + path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
  }
  static std::string ETag(const std::string& bytes) {
    return "\"" + std::to_string(std::hash<std::string>()(bytes)) + "\"";
  }

  ScriptedHttp::Answer Answer() {
    return [this](const HttpRequest& request) {
      Reply reply = Serve(request);
      const std::string path = PathOf(request.url);
      if (auto found = faults_.find(path);
          found != faults_.end() && !found->second.empty() && found->second.front()(request, reply))
        found->second.pop_front();
      return reply;
    };
  }

 private:
  // The path of a file under base, or empty (not found) for any other address.
  std::string PathOf(const std::string& url) const {
    const std::size_t scheme = url.find("://");
    const std::size_t slash = url.find('/', scheme + 3);
    std::string authority = url.substr(scheme + 3, slash - scheme - 3);
    authority = authority.substr(authority.rfind('@') == std::string::npos ? 0 : authority.rfind('@') + 1);
    if (url.substr(0, scheme + 3) + authority != base_ || slash == std::string::npos) return {};
    return url.substr(slash + 1);
  }

  Reply Serve(const HttpRequest& request) const {
    const std::string path = PathOf(request.url);
    if (path.empty() || !std::filesystem::is_regular_file(root_ + "/" + path)) return Status(404);
    const std::string bytes = Read(path);
    Reply reply = Status(200);
    reply.head.etag = ETag(bytes);
    reply.head.lastModified = "Wed, 01 May 2024 10:00:00 GMT";
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (request.from > 0 && (request.ifRange.empty() || request.ifRange == reply.head.etag)) {
      if (request.from >= size) return Status(416);
      reply.head.status = 206;
      reply.head.rangeStart = request.from;
      reply.head.rangeWhole = size;
      reply.body = bytes.substr(static_cast<std::size_t>(request.from));
    } else {
      reply.body = bytes;
    }
    reply.head.length = static_cast<std::int64_t>(reply.body.size());
    if (request.head) reply.body.clear();
    return reply;
  }

  std::string root_;
  std::string base_;
  std::map<std::string, std::deque<Fault>> faults_;
};

}  // namespace quillet::services::testing
