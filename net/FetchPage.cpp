#include "net/FetchPage.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "net/Socket.h"
#include "net/Text.h"

namespace quillet {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kUnbounded = std::numeric_limits<std::uint64_t>::max();

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Decimal digits only; values beyond 64 bits saturate, so a lying length is simply "huge".
std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    const unsigned digit = static_cast<unsigned>(c - '0');
    value = value > (kUnbounded - digit) / 10 ? kUnbounded : value * 10 + digit;
  }
  return value;
}

// The leading hex digits of a chunk-size line; anything after them (an extension after ';',
// a blank and a comment) is ignored. No digits at all: unreadable.
std::optional<std::uint64_t> ParseChunkSize(std::string_view line) {
  line = Trim(line);
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (char c : line) {
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else break;
    value = value > (kUnbounded >> 4) ? kUnbounded : (value << 4) | digit;
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return value;
}

// The second blank-separated field of the status line, when it is a decimal number.
std::optional<int> StatusCode(std::string_view line) {
  const std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(first);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  const std::string_view field = rest.substr(0, rest.find(' '));
  if (field.size() > 9) return std::nullopt;
  const auto value = ParseDecimal(field);
  if (!value) return std::nullopt;
  return static_cast<int>(*value);
}

// The response as it arrives, within the bounds of the fetch. Every wait is at most the
// idle time-out and never past the overall deadline.
class ResponseReader {
 public:
  ResponseReader(Socket& socket, const FetchLimits& limits, Clock::time_point deadline)
      : socket_(socket), limits_(limits), deadline_(deadline), scratch_(64 * 1024) {}

  // One line without its line end (LF or CR LF). False when the stream ends first or the
  // line grows beyond the header bound.
  bool ReadLine(std::string& line) {
    std::size_t scanned = 0;  // bytes after pos_ known to hold no line feed
    for (;;) {
      const std::size_t end = buffer_.find('\n', pos_ + scanned);
      if (end != std::string::npos) {
        line.assign(buffer_, pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos_ = end + 1;
        return true;
      }
      scanned = buffer_.size() - pos_;
      if (scanned > limits_.maxHeaderBytes || !Fill()) return false;
    }
  }

  // Appends up to count bytes to body, never beyond the body bound. False when the stream
  // or the bound ended first.
  bool ReadBody(std::string& body, std::uint64_t count) {
    while (count > 0) {
      if (body.size() >= limits_.maxBodyBytes) return false;
      if (pos_ == buffer_.size() && !Fill()) return false;
      const std::size_t take = static_cast<std::size_t>(
          std::min<std::uint64_t>({count, buffer_.size() - pos_, limits_.maxBodyBytes - body.size()}));
      body.append(buffer_, pos_, take);
      pos_ += take;
      count -= take;
    }
    return true;
  }

 private:
  bool Fill() {
    if (pos_ == buffer_.size()) {
      buffer_.clear();
      pos_ = 0;
    } else if (pos_ >= scratch_.size()) {
      buffer_.erase(0, pos_);
      pos_ = 0;
    }
    const int wait = std::min(limits_.readIdleTimeoutMs, RemainingMs(deadline_));
    if (wait <= 0) return false;
    const auto got = socket_.Receive(scratch_.data(), scratch_.size(), wait);
    if (got.status != Socket::Status::kData) return false;
    buffer_.append(scratch_.data(), got.bytes);
    return true;
  }

  Socket& socket_;
  const FetchLimits& limits_;
  const Clock::time_point deadline_;
  std::vector<char> scratch_;
  std::string buffer_;
  std::size_t pos_ = 0;
};

struct ResponseHead {
  int status = 0;
  std::optional<std::uint64_t> contentLength;
  bool chunked = false;
};

// Status line and headers up to the empty line. Interim 1xx answers are passed over.
std::optional<ResponseHead> ReadHead(ResponseReader& reader, const FetchLimits& limits) {
  ResponseHead head;
  std::string line;
  std::size_t headBytes = 0;
  do {
    if (!reader.ReadLine(line)) return std::nullopt;
    const auto status = StatusCode(line);
    if (!status) return std::nullopt;
    head = ResponseHead{*status, std::nullopt, false};
    for (;;) {
      if (!reader.ReadLine(line)) return std::nullopt;
      headBytes += line.size() + 2;
      if (headBytes > limits.maxHeaderBytes) return std::nullopt;
      if (line.empty()) break;
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      const std::string name = LowerAscii(Trim(std::string_view(line).substr(0, colon)));
      const std::string_view value = Trim(std::string_view(line).substr(colon + 1));
      if (name == "content-length") {
        if (const auto length = ParseDecimal(value)) head.contentLength = length;
      } else if (name == "transfer-encoding") {
        head.chunked = LowerAscii(value).find("chunked") != std::string::npos;
      }
    }
  } while (head.status >= 100 && head.status < 200);
  return head;
}

void ReadChunkedBody(ResponseReader& reader, std::string& body) {
  std::string line;
  for (;;) {
    if (!reader.ReadLine(line)) return;
    const auto size = ParseChunkSize(line);
    if (!size || *size == 0) {
      reader.ReadLine(line);  // the empty line (or first trailer) after the last chunk
      return;
    }
    if (!reader.ReadBody(body, *size) || !reader.ReadLine(line)) return;
  }
}

std::string Fetch(const std::string& url, const FetchLimits& limits) {
  const UrlParts parts = SplitUrl(url);
  if (!parts.ok) return {};
  const auto deadline = Clock::now() + std::chrono::milliseconds(limits.overallDeadlineMs);

  Socket socket = Socket::Connect(parts.host, parts.port, std::min(limits.connectTimeoutMs, RemainingMs(deadline)));
  if (!socket.IsOpen()) return {};

  const std::string request = "GET " + parts.target + " HTTP/1.1\r\n" + "Host: " + parts.host + "\r\n" +
                              "Accept: text/html, */*\r\n" + "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n" +
                              "\r\n";
  if (!socket.SendAll(request, std::min(limits.readIdleTimeoutMs, RemainingMs(deadline)))) return {};

  ResponseReader reader(socket, limits, deadline);
  const auto head = ReadHead(reader, limits);
  if (!head) return {};

  std::string body;
  // These answers never have a body; reading on would only wait for a kept-alive
  // connection to time out.
  if (head->status == 204 || head->status == 304) return body;
  if (head->chunked) {
    ReadChunkedBody(reader, body);
  } else if (head->contentLength) {
    reader.ReadBody(body, *head->contentLength);
  } else {
    reader.ReadBody(body, kUnbounded);
  }
  return body;
}

}  // namespace

UrlParts SplitUrl(const std::string& url) {
  UrlParts parts;
  // A line break would end the request line early and let the URL add headers.
  if (url.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) return parts;
  std::string rest = ReplaceAll(url, "\\", "/");
  if (const std::size_t scheme = rest.find("://"); scheme != std::string::npos) rest.erase(0, scheme + 3);
  rest = rest.substr(0, rest.find('#'));

  const std::size_t hostEnd = rest.find_first_of("/?");
  std::string host = rest.substr(0, hostEnd);
  parts.target.assign(1, '/');
  if (hostEnd != std::string::npos) parts.target.append(rest, rest[hostEnd] == '/' ? hostEnd + 1 : hostEnd);

  if (const std::size_t colon = host.find(':'); colon != std::string::npos) {
    const std::string_view portText = std::string_view(host).substr(colon + 1);
    if (!portText.empty()) {
      const auto port = portText.size() <= 5 ? ParseDecimal(portText) : std::nullopt;
      if (!port || *port == 0 || *port > 65535) return parts;
      parts.port = static_cast<std::uint16_t>(*port);
    }
    host.erase(colon);
  }
  if (host.empty()) return parts;
  parts.host = std::move(host);
  parts.ok = true;
  return parts;
}

std::string FetchPage(const std::string& url) { return FetchPage(url, FetchLimits{}); }

std::string FetchPage(const std::string& url, const FetchLimits& limits) {
  try {
    return Fetch(url, limits);
  } catch (...) {
    // Only allocation can fail here; the caller still gets a page text, an empty one.
    return {};
  }
}

}  // namespace quillet
