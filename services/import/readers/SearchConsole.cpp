// Search-console performance exports of queries: CSV (UTF-8, with or without a byte order
// mark) with a header row naming "Top queries" and "Impressions" among other columns.
#include <algorithm>

#include "services/import/Importers.h"
#include "services/import/ReaderKit.h"
#include "services/text/Strings.h"

namespace quillet::services {

ImportReport ReadSearchConsole(StoreWriter& store, InputFile& input, const ImportSettings&,
                               const ImportProgress& progress) {
  ImportReport report;
  report.sums = true;
  ImportLines lines(input, limits::kMaxTableLine, report, progress);
  std::string_view line;
  std::optional<ColumnLayout> layout;
  size_t looked = 0;
  while (!layout && looked < kHeaderSearchLines && lines.Next(&line)) {
    ++looked;
    layout = FindColumns(line, "top queries", "impressions");
  }
  if (!layout) {
    // Without the header no line can be read: the file is named as a whole, not line by line.
    std::int64_t count = static_cast<std::int64_t>(looked);
    while (lines.Next(&line)) ++count;
    if (count > 0) {
      report.lines += count;
      report.skipped[std::string(skip::kNoSearchConsoleHeader)] += count;
      report.examples.push_back("line 1: " + std::string(skip::kNoSearchConsoleHeader));
    }
    lines.Finish();
    return report;
  }
  while (lines.Next(&line)) {
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
