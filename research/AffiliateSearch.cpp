#include "research/AffiliateSearch.h"

#include <algorithm>

#include "net/Text.h"

namespace quillet {
namespace {

constexpr std::string_view kItem = "<li>";
constexpr std::string_view kScheme = "http://";
constexpr std::size_t kLinkCountWindow = 300;
constexpr std::size_t npos = std::string_view::npos;

// Narrows text[begin, end) to its host: behind the first "http://", before the first "/"
// after that. find(marker, from) gives the first index at or after from, or npos.
template <typename Find>
void CutHost(std::size_t& begin, std::size_t& end, Find find) {
  const std::size_t scheme = find(kScheme, begin);
  if (scheme != npos && scheme + kScheme.size() <= end) begin = scheme + kScheme.size();
  const std::size_t slash = find("/", begin);
  if (slash != npos && slash < end) end = slash;
}

}  // namespace

std::string ExtractHost(std::string_view address) {
  const std::string lower = LowerAscii(address);
  std::size_t begin = 0, end = lower.size();
  CutHost(begin, end, [&](std::string_view marker, std::size_t from) { return lower.find(marker, from); });
  return lower.substr(begin, end - begin);
}

std::string StripWww(std::string_view address) {
  const std::string host = ExtractHost(address);
  const std::size_t www = host.find("www.");
  return www == npos ? host : host.substr(www + 4);
}

ResultsText::ResultsText(std::string_view page, std::size_t from)
    : page_(page), at_(std::min(from, page.size())), items_(page), hosts_(page) {}

bool ResultsText::HasItem() { return items_.Find(kItem, at_) != npos; }

std::string ParseNextResult(ResultsText& r) {
  const std::string_view page = r.page_;
  if (r.at_ >= page.size()) return std::string();

  // The item is the rest behind its first "<li>" (from the rest's fourth character when it
  // has none).
  const std::size_t item = r.items_.Find(kItem, r.at_);
  const std::size_t itemStart = std::min(item == npos ? r.at_ + 3 : item + kItem.size(), page.size());

  // The display address runs from behind "<em" (from the item's third character without
  // one) up to the first "</em>", and from behind the first '>' in that stretch.
  const std::size_t em = r.items_.Find("<em", itemStart);
  std::size_t begin = em == npos ? itemStart + 2 : em + 3;
  std::size_t end = r.items_.Find("</em>", itemStart);
  bool usable = false;
  if (end != npos && end > begin) {
    const std::size_t gt = r.items_.Find(">", begin);
    if (gt != npos && gt < end) begin = gt + 1;
    const std::size_t dot = r.hosts_.Find(".", begin);
    usable = end - begin >= 3 && dot != npos && dot < end;
  }

  const std::size_t next = r.items_.Find(kItem, itemStart);
  r.at_ = next == npos ? itemStart : next;

  if (!usable) return std::string();
  CutHost(begin, end, [&](std::string_view marker, std::size_t from) { return r.hosts_.Find(marker, from); });
  return std::string(page.substr(begin, end - begin));
}

AffiliateSearch::AffiliateSearch(RunWindow& window, ResultList& rows, PageFetcher fetch, ServiceHosts hosts,
                                 bool& stop2Flag, std::function<bool()> abandoned)
    : window_(window),
      rows_(rows),
      fetch_(std::move(fetch)),
      hosts_(std::move(hosts)),
      stop2Flag_(stop2Flag),
      abandoned_(std::move(abandoned)) {}

void AffiliateSearch::SearchAffiliatePrograms(const std::string& category, std::int32_t n, std::int32_t s) {
  window_.SetStatus(category);
  window_.ProcessMessages();
  // 64 bits, so that the largest skip setting asks for the result after it.
  const std::int64_t first = static_cast<std::int64_t>(s) + 1;
  const std::string page = fetch_(hosts_.search + "/search?p=%22" + ReplaceAll(category, " ", "+") +
                                  "%22&ei=UTF-8&n=" + std::to_string(n) + "&b=" + std::to_string(first));
  window_.ProcessMessages();
  if (abandoned_ && abandoned_()) return;
  ReadSearchResults(page, s);
}

void AffiliateSearch::ReadSearchResults(const std::string& rawPage, std::int32_t s) {
  stop2Flag_ = false;
  std::int64_t rank = static_cast<std::int64_t>(s) + 1;
  rows_.Clear();
  const std::string page = LowerAscii(rawPage);
  const std::size_t start = Pos("of about", page);
  ResultsText rest(page, start == 0 ? 0 : start - 1);
  if (!rest.HasItem()) return;

  for (;;) {
    RowHandle row = 0;
    bool rankSet = false, countSet = false, trafficSet = false, more = false;
    try {
      const std::string site = ParseNextResult(rest);
      row = rows_.AddRow();
      rows_.SetCaption(row, site);
      rows_.SetSubItem(row, 1, std::to_string(rank));
      rankSet = true;
      ++rank;
      window_.ProcessMessages();
      rows_.SetSubItem(row, 2, EstimateAffiliates(site));
      countSet = true;
      window_.ProcessMessages();
      rows_.SetSubItem(row, 3, LookupTrafficRank(site));
      trafficSet = true;
      window_.ProcessMessages();
      more = rest.HasItem();
      window_.ProcessMessages();
    } catch (...) {
      window_.ReportFailure("AffiliateSearch::ReadSearchResults", std::current_exception());
      // Complete the row as far as anything is known, then end the run quietly.
      try {
        if (!row) row = rows_.AddRow();
        if (!rankSet) rows_.SetSubItem(row, 1, std::to_string(rank));
        if (!countSet) rows_.SetSubItem(row, 2, std::string());
        if (!trafficSet) rows_.SetSubItem(row, 3, kNoTrafficRank);
      } catch (...) {
        window_.ReportFailure("AffiliateSearch::ReadSearchResults, completing the row", std::current_exception());
      }
      return;
    }
    if (window_.EscapeHeld() || stop2Flag_ || !more) return;
  }
}

std::string AffiliateSearch::EstimateAffiliates(const std::string& site) {
  std::string result;  // stays empty after an unexpected error
  try {
    window_.SetStatus(site);
    window_.ProcessMessages();
    const std::string query =
        ReplaceAll(ReplaceAll(ReplaceAll("link:http://" + site, " ", "%20"), ":", "%3A"), "/", "%2F");
    const std::string page = LowerAscii(fetch_(hosts_.search + "/search?p=" + query));
    window_.ProcessMessages();
    std::string_view count;
    if (const std::size_t at = Pos("of about", page); at != 0) {
      const std::string_view window = Copy(page, at, kLinkCountWindow);
      const std::size_t gt = Pos(">", window);
      const std::size_t close = Pos("</", window);
      count = Copy(window, gt + 1, static_cast<std::int64_t>(close) - static_cast<std::int64_t>(gt) - 1);
    }
    if (count.empty()) count = "0";
    window_.ProcessMessages();
    result = StripSeparators(count);
  } catch (...) {
    window_.ReportFailure("AffiliateSearch::EstimateAffiliates", std::current_exception());
    result.clear();
  }
  return result;
}

std::string AffiliateSearch::LookupTrafficRank(const std::string& site) {
  std::string rank;
  try {
    const std::string host = StripWww(site);
    const std::string page = LowerAscii(fetch_(hosts_.traffic + "/data/details/?url=www." + host));
    window_.ProcessMessages();
    std::string_view stretch = From(page, Pos("traffic rank for ", page));
    stretch = stretch.substr(0, Pos("<br>", stretch));  // through the '<' of "<br>"
    for (std::size_t i = 1; i < stretch.size(); ++i)
      if (IsDigit(stretch[i]) && stretch[i - 1] == '>') rank.push_back(stretch[i]);
  } catch (...) {
    window_.ReportFailure("AffiliateSearch::LookupTrafficRank", std::current_exception());
    rank.clear();
  }
  if (rank.empty()) rank = kNoTrafficRank;
  return StripSeparators(rank);
}

}  // namespace quillet
