// Search-console performance exports of queries: CSV (UTF-8, with or without a byte order
// mark) with a header row naming the query and impressions columns, in the language of the
// user's console, among other columns. An export always has the same five columns: query,
// clicks, impressions, CTR, position.
#include <algorithm>

#include "services/import/Importers.h"
#include "services/import/ReaderKit.h"
#include "services/text/Strings.h"

namespace quillet::services {
namespace {

// The console's headings, case folded: English, French, German, Spanish, Italian,
// Portuguese, Dutch, Polish, Japanese.
constexpr std::string_view kQueryHeadings[] = {
    "top queries",
    "requ\xC3\xAAtes les plus fr\xC3\xA9quentes",
    "h\xC3\xA4ufigste suchanfragen",
    "top-suchanfragen",
    "consultas principales",
    "query principali",
    "principais consultas",
    "top consultas",
    "populairste zoekopdrachten",
    "najpopularniejsze zapytania",
    "\xE4\xB8\x8A\xE4\xBD\x8D\xE3\x81\xAE\xE3\x82\xAF\xE3\x82\xA8\xE3\x83\xAA"};  // 上位のクエリ
constexpr std::string_view kImpressionHeadings[] = {"impressions",
                                                    "impressionen",
                                                    "impresiones",
                                                    "impressioni",
                                                    "impress\xC3\xB5"
                                                    "es",
                                                    "vertoningen",
                                                    "wy\xC5\x9Bwietlenia",
                                                    "\xE8\xA1\xA8\xE7\xA4\xBA\xE5\x9B\x9E\xE6\x95\xB0"};  // 表示回数

// The fixed shape of an export: query, clicks, impressions, CTR, position.
constexpr size_t kExportColumns = 5;
constexpr ColumnLayout kByPosition{',', 0, 2};

// A line of the export's shape whose counts are no numbers: a header in a language the
// reader does not know.
bool UnknownHeader(std::string_view line) {
  auto fields = SplitFields(line, HeaderSeparator(line));
  return fields && fields->size() == kExportColumns && !ParseCount((*fields)[1]) && !ParseCount((*fields)[2]);
}

}  // namespace

bool IsSearchConsoleHeader(std::string_view line) {
  return FindColumns(line, kQueryHeadings, kImpressionHeadings).has_value();
}

ImportReport ReadSearchConsole(StoreWriter& target, InputFile& input, const ImportSettings&,
                               const ImportProgress& progress) {
  ImportReport report;
  report.sums = true;
  ImportLines lines(input, target, limits::kMaxTableLine, report, progress);
  StoreWriter& store = lines.Store();
  std::string_view line;
  std::optional<ColumnLayout> layout;
  std::string first;
  size_t looked = 0;
  while (!layout && looked < kHeaderSearchLines && lines.Next(&line)) {
    if (looked++ == 0) first = line;
    layout = FindColumns(line, kQueryHeadings, kImpressionHeadings);
    if (!layout && looked == 1 && UnknownHeader(line)) {
      layout = kByPosition;
      layout->separator = HeaderSeparator(line);
      report.warnings.push_back("header " + Quoted(line) +
                                " not recognised: read by position as query, clicks, impressions, CTR, position");
    }
  }
  if (!layout) {
    // Without the header no line can be read: the file is named as a whole, not line by line.
    std::int64_t count = static_cast<std::int64_t>(looked);
    while (lines.Next(&line)) ++count;
    if (count > 0) {
      report.lines += count;
      report.skipped[std::string(skip::kNoSearchConsoleHeader)] += count;
      report.examples.push_back(
          "line 1: " + std::string(skip::kNoSearchConsoleHeader) +
          " (the reader takes the console's headers Top queries and Impressions, and their French, German, Spanish, "
          "Italian, Portuguese, Dutch, Polish and Japanese names, or five columns in the export's order; the file's "
          "first line is " +
          Quoted(first) + ")");
    }
    lines.Finish();
    return report;
  }
  char separator = layout->separator;
  while (lines.NextRecord(&line, &separator)) {
    ++report.lines;
    std::int64_t number = lines.Number();
    auto fields = SplitFields(line, layout->separator);
    if (!fields) {
      report.Skip(number, skip::kTooManyFields, "over " + std::to_string(limits::kMaxFields));
      continue;
    }
    if (fields->size() <= std::max(layout->first, layout->second)) {
      report.Skip(number, skip::kTooFewColumns);
      continue;
    }
    std::optional<std::int64_t> impressions = ParseCount((*fields)[layout->second]);
    if (!impressions) {
      report.Skip(number, skip::kImpressions, Quoted(Trim((*fields)[layout->second])));
      continue;
    }
    TallyTerm(store, number, (*fields)[layout->first], *impressions, report);
  }
  lines.Finish();
  return report;
}

}  // namespace quillet::services
