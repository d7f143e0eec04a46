// Search-console performance exports of queries: CSV (UTF-8, with or without a byte order
// mark) with a header row naming "Top queries" and "Impressions" among other columns.
#include <algorithm>

#include "services/Text.h"
#include "services/readers/ReaderKit.h"

namespace quillet::services {

ImportReport ImportSearchConsole(StoreWriter& store, const std::string& path, const ImportProgress& progress) {
  ImportReport report;
  report.sums = true;
  ImportLines lines(path, limits::kMaxTableLine, report, progress);
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
      const std::string reason = "no header with the columns Top queries and Impressions";
      report.lines += count;
      report.skipped[reason] += count;
      report.examples.push_back("line 1: " + reason);
    }
    lines.Finish();
    return report;
  }
  while (lines.Next(&line)) {
    ++report.lines;
    std::int64_t number = lines.Number();
    auto fields = SplitFields(line, layout->separator);
    if (!fields) {
      report.Skip(number, "too many fields", "over " + std::to_string(limits::kMaxFields));
      continue;
    }
    if (fields->size() <= std::max(layout->first, layout->second)) {
      report.Skip(number, "too few columns");
      continue;
    }
    std::optional<std::int64_t> impressions = ParseCount((*fields)[layout->second]);
    if (!impressions) {
      report.Skip(number, "impressions not a whole number from 0 to 2147483647",
                  Quoted(Trim((*fields)[layout->second])));
      continue;
    }
    TallyTerm(store, number, (*fields)[layout->first], *impressions, report);
  }
  lines.Finish();
  return report;
}

}  // namespace quillet::services
