// Raw request bytes through the server's own parsing, checks and routing (AnswerRequest),
// answered from a store that hands back what the request asked for (words as terms and
// pages), so that hostile text reaches every page. Every answer is a whole response: a
// status line, an HTML page whose Content-Length matches it.
#include <string>

#include "services/serve/HttpServer.h"
#include "services/serve/Service.h"

namespace {

using namespace quillet::services;

class EchoStore : public StoreReader {
 public:
  std::vector<Suggestion> FindSuggestions(const std::vector<std::string>& words, int limit, Deadline) override {
    std::vector<Suggestion> rows;
    for (const std::string& word : words)
      if (static_cast<int>(rows.size()) < limit) rows.push_back({word, static_cast<std::int64_t>(word.size())});
    return rows;
  }
  std::int64_t CountMatches(const TextQuery& query, Deadline) override {
    if (query.text.find("fail") != std::string::npos) throw NoAnswer("asked to fail");
    return static_cast<std::int64_t>(query.text.size());
  }
  std::vector<ResultItem> FindPages(const TextQuery& query, std::int64_t, int limit, Deadline) override {
    std::vector<ResultItem> items;
    for (int i = 0; i < limit && i < 3; ++i) items.push_back({"http://" + query.text, query.text, query.text});
    return items;
  }
  std::int64_t CountLinks(std::string_view host, Deadline) override { return static_cast<std::int64_t>(host.size()); }
  std::optional<std::int64_t> FindRank(std::string_view host, Deadline) override {
    if (host.size() % 2) return std::nullopt;
    return static_cast<std::int64_t>(host.size());
  }
  std::vector<SourceRecord> Sources() override { return {}; }
  StoreCounts Counts() override { return {}; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static EchoStore store;
  static Service service(store);
  const std::string response = AnswerRequest(service, std::string_view(reinterpret_cast<const char*>(data), size));
  if (response.empty()) return 0;
  if (response.rfind("HTTP/1.1 ", 0) != 0 && response.rfind("HTTP/1.0 ", 0) != 0) __builtin_trap();
  std::size_t end = response.find("\r\n\r\n");
  std::size_t length = response.find("Content-Length: ");
  if (end == std::string::npos || length == std::string::npos || length > end) __builtin_trap();
  std::size_t declared = std::stoul(response.substr(length + 16));
  std::size_t body = response.size() - end - 4;
  if (body != 0 && body != declared) __builtin_trap();  // 0: a HEAD request
  if (body != 0 && response.compare(response.size() - 15, 15, "</body></html>\n") != 0) __builtin_trap();
  if (response.find("Content-Type: text/html; charset=utf-8\r\n") > end) __builtin_trap();
  return 0;
}
