#include "research/CategoryResearch.h"

#include <cstdint>
#include <cstdlib>

#include "net/Text.h"
#include "research/Cutting.h"

namespace quillet {
namespace {

constexpr std::string_view kCellStart = "<td>";
constexpr std::string_view kCellEnd = "</td>";
constexpr std::size_t kSupplyWindow = 200;

// The cell of the text from `from` on: from its first "<td>" up to its first "</td>". Without
// a "<td>" the cell runs from `from` through the '<' of that "</td>"; a "<td>" behind the
// "</td>" makes it empty, and so does a missing "</td>". `end` receives the "</td>" index.
std::string_view CellAt(std::string_view page, ForwardScanner& scan, std::size_t from, std::size_t& end) {
  end = scan.Find(kCellEnd, from);
  if (end == std::string_view::npos) return {};
  const std::size_t start = scan.Find(kCellStart, from);
  if (start == std::string_view::npos) return page.substr(from, end - from + 1);
  if (start > end) return {};
  return page.substr(start, end - start);
}

}  // namespace

std::string ExtractDemand(std::string_view cell) {
  const std::string_view after = From(cell, Pos("&nbsp;", cell) + 6);
  const std::size_t close = Pos("</", after);
  return std::string(close > 1 ? after.substr(0, close - 1) : after);
}

std::string ExtractCategory(std::string_view cell) {
  const std::size_t linkEnd = Pos("</a>", cell);
  const std::string_view text = linkEnd ? cell.substr(0, linkEnd - 1) : std::string_view();
  // The later of the link tag's '>' and an entity's ';'. A text holding only one of the two
  // is cut behind it too: a link without a leading entity still yields its term.
  const std::size_t last = text.find_last_of(">;");
  return last == std::string_view::npos ? std::string() : std::string(text.substr(last + 1));
}

std::string ComputeProfitability(std::string_view demand, std::string_view supply, char decimalSeparator) {
  std::int32_t s = 0, d = 0;
  if (!ReadInt32(supply, s)) s = 0;
  if (!ReadInt32(demand, d)) d = 0;
  if (s == 0) s = 1;
  // (D / S) x D is the rational D^2 / S. Working on it exactly (|D^2| < 2^63, |S| < 2^32)
  // rounds every tie the way the decimal value reads, with no binary noise to flip it.
  const std::uint64_t numerator = static_cast<std::uint64_t>(std::llabs(d)) * static_cast<std::uint64_t>(std::llabs(d));
  const std::uint64_t divisor = static_cast<std::uint64_t>(std::llabs(s));
  std::uint64_t whole = numerator / divisor;
  const std::uint64_t rest = numerator % divisor;
  std::uint64_t cents = rest * 100 / divisor;
  const std::uint64_t centsRest = rest * 100 % divisor;
  if (centsRest * 2 >= divisor) ++cents;
  if (cents == 100) {
    cents = 0;
    ++whole;
  }
  std::string out;
  if (s < 0 && (whole != 0 || cents != 0)) out.push_back('-');
  out += std::to_string(whole);
  if (cents != 0) {
    out.push_back(decimalSeparator);
    out.push_back(static_cast<char>('0' + cents / 10));
    if (cents % 10 != 0) out.push_back(static_cast<char>('0' + cents % 10));
  }
  return out;
}

CategoryResearch::CategoryResearch(RunWindow& window, ResultList& rows, PageFetcher fetch, ServiceHosts hosts,
                                   bool& stopFlag, char decimalSeparator)
    : window_(window),
      rows_(rows),
      fetch_(std::move(fetch)),
      hosts_(std::move(hosts)),
      stopFlag_(stopFlag),
      decimalSeparator_(decimalSeparator) {}

void CategoryResearch::ResearchCategory(const std::string& topic) {
  window_.SetStatus(topic);
  window_.ProcessMessages();
  const std::string term = ReplaceAll(ReplaceAll(topic, "\"", ""), " ", "%20");
  const std::string page =
      fetch_(hosts_.suggestion + "/d/searchinventory/suggestion/?term=" + term + "&mkt=us&lang=en_US");
  window_.ProcessMessages();
  ParseSuggestionPage(page);
}

void CategoryResearch::ParseSuggestionPage(const std::string& rawPage) {
  stopFlag_ = false;
  rows_.Clear();
  const std::string lower = LowerAscii(rawPage);
  const std::string_view page = lower;
  ForwardScanner scan(page);
  std::size_t from = page.find(" done ");
  if (from == std::string_view::npos) from = 0;
  if (scan.Find(kCellEnd, from) == std::string_view::npos) return;

  do {
    RowHandle row = 0;
    std::string demand, supply;
    bool unanswered = false, supplySet = false, profitSet = false;
    try {
      std::size_t end;
      demand = ExtractDemand(CellAt(page, scan, from, end));
      row = rows_.AddRow();
      rows_.SetSubItem(row, 1, demand);
      from = end + kCellEnd.size();
      window_.ProcessMessages();

      const std::string term = ExtractCategory(CellAt(page, scan, from, end));
      rows_.SetCaption(row, term);
      window_.ProcessMessages();
      supply = LookUpSupply(term, &unanswered);
      rows_.SetSubItem(row, 2, supply);
      supplySet = true;
      rows_.SetSubItem(row, 3, Profitability(demand, supply, unanswered));
      profitSet = true;
      rows_.SetChecked(row, false);
      from = end == std::string_view::npos ? page.size() : end + kCellEnd.size();
      window_.ProcessMessages();
      window_.ProcessMessages();
    } catch (...) {
      window_.ReportFailure("CategoryResearch::ParseSuggestionPage", std::current_exception());
      // Complete the row from the values at hand, then end the run quietly.
      if (row) {
        if (!supplySet) rows_.SetSubItem(row, 2, supply);
        if (!profitSet) rows_.SetSubItem(row, 3, Profitability(demand, supply, unanswered));
        rows_.SetChecked(row, false);
      }
      return;
    }
    if (window_.EscapeHeld() || stopFlag_) return;
  } while (scan.Find(kCellEnd, from) != std::string_view::npos);
}

std::string CategoryResearch::Profitability(const std::string& demand, const std::string& supply,
                                            bool unanswered) const {
  return unanswered ? kUnknownCount : ComputeProfitability(demand, supply, decimalSeparator_);
}

std::string CategoryResearch::LookUpSupply(const std::string& rawTerm, bool* unanswered) {
  if (unanswered) *unanswered = false;
  window_.SetStatus(rawTerm);
  window_.ProcessMessages();
  const std::string term = ReplaceAll(rawTerm, " ", "+");
  if (term.empty()) return std::string();
  const std::string page = LowerAscii(fetch_(hosts_.search + "/search?p=%22" + term + "%22"));
  if (unanswered) *unanswered = page.empty();
  window_.ProcessMessages();
  std::string supply;
  const std::size_t at = Pos("of about", page);
  if (at == 0) {
    supply = kUnknownCount;
  } else {
    const std::string_view snippet = Copy(page, at, kSupplyWindow);
    const std::size_t gt = Pos(">", snippet);
    const std::size_t lt = Pos("</", snippet);
    supply = std::string(Copy(snippet, gt + 1, static_cast<std::int64_t>(lt) - static_cast<std::int64_t>(gt) - 1));
  }
  if (supply.empty()) supply = "0";
  window_.ProcessMessages();
  return StripSeparators(supply);
}

}  // namespace quillet
