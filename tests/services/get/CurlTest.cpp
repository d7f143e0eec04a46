// The platform's HTTP client against a hostile server on loopback: the bytes a server sends
// before it closes are kept.
#include <gtest/gtest.h>

#include "services/get/Download.h"
#include "tests/support/LoopbackServer.h"

namespace quillet::services {
namespace {

TEST(CurlClient, BytesBeforeEachCutAreKeptAndTheRestIsAskedFor) {
  constexpr std::size_t kSize = 32768, kEach = 8192;
  std::string body = "\x1f\x8b";
  while (body.size() < kSize) body += static_cast<char>('a' + body.size() % 26);
  std::size_t calls = 0;
  // Every answer sends 8 KB of what it announced and closes at once.
  test::LoopbackServer server([&](const std::string&) {
    const std::size_t from = kEach * calls++;
    std::string head = from == 0 ? std::string("HTTP/1.1 200 OK\r\n")
                                 : "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) +
                                       "-" + std::to_string(kSize - 1) + "/" + std::to_string(kSize) + "\r\n";
    head += "ETag: \"v1\"\r\nContent-Length: " + std::to_string(kSize - from) + "\r\nConnection: close\r\n\r\n";
    return head + body.substr(from, kEach);
  });
  std::unique_ptr<HttpClient> client = MakeHttpClient("quillet tests");
  Fetcher fetcher(*client, nullptr, [](std::chrono::milliseconds) {});
  std::unique_ptr<ByteSource> source = fetcher.Open(server.BaseUrl() + "/f.gz", -1, true);
  std::string got;
  char chunk[4096];
  while (std::size_t n = source->Read(chunk, sizeof chunk)) got.append(chunk, n);
  EXPECT_EQ(got, body);
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), kSize / kEach);
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_NE(requests[i].find("Range: bytes=" + std::to_string(i * kEach) + "-\r\n"), std::string::npos)
        << requests[i];
    EXPECT_NE(requests[i].find("If-Range: \"v1\"\r\n"), std::string::npos) << requests[i];
  }
}

}  // namespace
}  // namespace quillet::services
