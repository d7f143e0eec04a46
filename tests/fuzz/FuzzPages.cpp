// Page rendering with hostile stored values, read by the program's own readers: a suggestion
// page gives exactly one row per stored term with its demand, whatever the term holds; a
// result list gives one row per page, and the site read off each is the page's own host.
#include <string>

#include "research/AffiliateSearch.h"
#include "research/CategoryResearch.h"
#include "services/serve/HtmlPages.h"
#include "services/text/Hosts.h"
#include "services/text/Strings.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

class RecordingList : public quillet::fuzz::CheckedList {
 public:
  void SetCaption(quillet::RowHandle row, const std::string& text) override {
    CheckedList::SetCaption(row, text);
    captions.push_back(text);
  }
  void SetSubItem(quillet::RowHandle row, int index, const std::string& text) override {
    CheckedList::SetSubItem(row, index, text);
    if (index == 1) firsts.push_back(text);
  }
  std::vector<std::string> captions, firsts;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  const auto parts = fuzz::Parts(data, size, 4);
  std::vector<services::Suggestion> rows;
  std::vector<services::ResultItem> items;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    rows.push_back({parts[i], static_cast<std::int64_t>(parts[i].size() * 1000 + i)});
    items.push_back({parts[i], parts[(i + 1) % parts.size()], parts[(i + 2) % parts.size()]});
  }
  fuzz::QuietWindow window;
  {
    RecordingList list;
    bool stop = false;
    CategoryResearch research(
        window, list, [](const std::string&) { return std::string(); }, {}, stop, '.');
    research.ParseSuggestionPage(services::RenderSuggestionPage(parts[3], rows));
    if (list.Rows() != rows.size()) __builtin_trap();
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (list.firsts[i] != std::to_string(rows[i].searches)) __builtin_trap();
  }
  {
    RecordingList list;
    bool stop = false;
    AffiliateSearch search(
        window, list, [](const std::string&) { return std::string(); }, {}, stop);
    search.ReadSearchResults(services::RenderSearchPage(parts[3], 40, 1, items), 0);
    if (list.Rows() != items.size()) __builtin_trap();
    for (std::size_t i = 0; i < items.size(); ++i) {
      // Stored pages have an http address (the importer takes no other); its host is the key.
      const std::string& url = items[i].url;
      std::string scheme = services::Lower(url.substr(0, 8));
      if (scheme.rfind("http://", 0) != 0 && scheme != "https://") continue;
      std::string host = services::ValidHost(url);
      if (!host.empty() && services::NormalizeHost(list.captions[i]) != host) __builtin_trap();
    }
  }
  return 0;
}
