// What `get` and `import auto` read of untrusted bytes: the publisher's list of crawls, the
// lines of its paths lists, a Retry-After header, and the first lines of any file whose kind
// is told from its content.
#include <algorithm>
#include <chrono>
#include <string>

#include "services/get/Download.h"
#include "services/get/Publishers.h"
#include "services/import/Sniff.h"
#include "tests/services/support/MemorySource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet::services;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string crawl = NewestCrawl(bytes);
  if (!crawl.empty() && (crawl.size() != 15 || crawl.rfind("CC-MAIN-", 0) != 0)) __builtin_trap();
  // A path that passes may be appended to a host: no way up, nothing but plain characters.
  if (SafePath(bytes)) {
    if (bytes.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-/") !=
        std::string::npos)
      __builtin_trap();
    for (std::size_t from = 0, end; from <= bytes.size(); from = end + 1) {
      end = std::min(bytes.find('/', from), bytes.size());
      std::string part = bytes.substr(from, end - from);
      if (part.empty() || part == "." || part == "..") __builtin_trap();
    }
  }
  std::string text = TextPathFor(bytes);
  if (!text.empty() && (text.size() != bytes.size() || SafePath(text) != SafePath(bytes))) __builtin_trap();
  RetryAfter(bytes, std::chrono::system_clock::time_point(std::chrono::seconds(1700000000)));
  // In small pieces, as a download hands them over.
  InputFile input = testing::MemoryInput(bytes, 7);
  KindOfContent(input);
  return 0;
}
