// The download's decisions against a server whose every answer the input shapes: status,
// Content-Length, Content-Range (true or not), validators, where the body breaks off and how
// fast it comes. The server's bytes are always the file's bytes at the place the answer says,
// so whatever the download hands its reader must be the start of the file: nothing spliced
// from another place, and at most one file's bytes. And it ends: within a bounded number of
// requests.
#include <string>

#include "services/get/Download.h"
#include "tests/services/support/ScriptedHttp.h"

namespace {

using namespace quillet::services;

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  unsigned Next() { return at_ < size_ ? data_[at_++] : 0; }
  bool Empty() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes input(data, size);
  std::string file = "\x1f\x8b";
  const std::size_t length = 2 + input.Next() * 16 + input.Next();
  while (file.size() < length) file += static_cast<char>('a' + file.size() % 23);
  int requests = 0;
  testing::ScriptedHttp client([&](const HttpRequest& request) {
    ++requests;
    testing::Reply reply;
    const unsigned shape = input.Next();
    const int statuses[] = {200, 206, 206, 416, 503, 404, 500, 301};
    if (shape == 255 || input.Empty()) {
      reply.refused = static_cast<HttpFault>(input.Next() % 8);
      return reply;
    }
    reply.head.status = statuses[shape % 8];
    // Where the bytes sent start: what was asked, or somewhere the answer claims instead.
    std::size_t start = reply.head.status == 206 ? static_cast<std::size_t>(request.from) : 0;
    if (reply.head.status == 206 && (shape & 0x10)) start = input.Next() % file.size();
    start = std::min(start, file.size());
    if (reply.head.status == 206) {
      reply.head.rangeStart = static_cast<std::int64_t>(start);
      reply.head.rangeWhole = (shape & 0x20) ? -1 : static_cast<std::int64_t>(file.size() + (shape & 0x40 ? 1 : 0));
    }
    reply.body = reply.head.status == 200 || reply.head.status == 206 ? file.substr(start) : std::string();
    if (!(shape & 0x80)) reply.head.length = static_cast<std::int64_t>(reply.body.size());
    const unsigned validator = input.Next() % 4;
    if (validator == 1) reply.head.etag = "\"v1\"";
    if (validator == 2) reply.head.etag = "W/\"v1\"";
    if (validator == 3) reply.head.lastModified = "Wed, 01 May 2024 10:00:00 GMT";
    const unsigned cut = input.Next();
    if (cut < 128) reply.cutAfter = cut % (reply.body.size() + 1);
    if (cut >= 128 && cut < 160) reply.body.resize(std::min(reply.body.size(), static_cast<std::size_t>(cut - 128)));
    reply.piece = 1 + input.Next() % 64;
    reply.perPiece = std::chrono::milliseconds(input.Next() * 500);
    if (request.head) reply.body.clear();
    return reply;
  });
  Fetcher fetcher = client.MakeFetcher(nullptr);
  std::string got;
  try {
    std::unique_ptr<ByteSource> source = fetcher.Open("http://m/f.gz", -1, true);
    char chunk[97];
    while (std::size_t n = source->Read(chunk, sizeof chunk)) {
      got.append(chunk, n);
      if (got.size() > file.size() || file.compare(0, got.size(), got) != 0) __builtin_trap();
    }
  } catch (const FetchError&) {
  }
  // Each try is one request, and tries start again only once bytes came.
  if (requests > static_cast<int>(file.size() + 2) * 8 + 8) __builtin_trap();
  return 0;
}
