#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/FetchPage.h"
#include "net/Socket.h"
#include "net/Text.h"
#include "tests/bench/BenchMain.h"
#include "tests/support/LoopbackServer.h"

namespace quillet {
namespace {

// Sizes n and 16n are both small enough for the caches, so that the growth measured is the
// algorithm's and not the memory hierarchy's.

// Words and blanks with thousands-separated counts, like a results page.
std::string PageLikeText(std::size_t size) {
  static const std::string piece = "Car Hire cheap rentals 1,234,567 results. ";
  std::string text;
  text.reserve(size + piece.size());
  while (text.size() < size) text += piece;
  text.resize(size);
  return text;
}

void BM_ReplaceAll(benchmark::State& state) {
  const std::string text = PageLikeText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReplaceAll(text, " ", "%20"));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReplaceAll)->Arg(16 << 10)->Arg(16 * (16 << 10))->Repetitions(5);

void BM_StripSeparators(benchmark::State& state) {
  const std::string text = PageLikeText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(StripSeparators(text));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StripSeparators)->Arg(16 << 10)->Arg(16 * (16 << 10))->Repetitions(5);

constexpr std::size_t kPageBytes = 1 << 20;

const std::string& MegabyteResponse() {
  static const std::string response = test::HttpResponse("200 OK", PageLikeText(kPageBytes));
  return response;
}

void BM_FetchPage(benchmark::State& state) {
  test::LoopbackServer server([](const std::string&) { return MegabyteResponse(); });
  const std::string url = server.BaseUrl() + "/page";
  for (auto _ : state) {
    const std::string page = FetchPage(url);
    if (page.size() != kPageBytes) state.SkipWithError("short page");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kPageBytes));
}
BENCHMARK(BM_FetchPage)->Unit(benchmark::kMillisecond)->Repetitions(3);

// The floor: the same exchange with nothing but a socket read to the end.
void BM_PlainSocketRead(benchmark::State& state) {
  test::LoopbackServer server([](const std::string&) { return MegabyteResponse(); });
  const std::string request = "GET /page HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  std::vector<char> buffer(64 * 1024);
  for (auto _ : state) {
    Socket socket = Socket::Connect("127.0.0.1", server.Port(), 5'000);
    socket.SendAll(request, 5'000);
    std::string received;
    for (;;) {
      const auto got = socket.Receive(buffer.data(), buffer.size(), 5'000);
      if (got.status != Socket::Status::kData) break;
      received.append(buffer.data(), got.bytes);
    }
    if (received.size() != MegabyteResponse().size()) state.SkipWithError("short response");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kPageBytes));
}
BENCHMARK(BM_PlainSocketRead)->Unit(benchmark::kMillisecond)->Repetitions(3);

const bool kFetchCompared = bench::CompareRuns("BM_FetchPage", "BM_PlainSocketRead");

}  // namespace
}  // namespace quillet
