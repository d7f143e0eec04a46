// Keyword exports: CSV or TSV, a header naming "Keyword" and "Avg. monthly searches" among
// the first lines, or two plain columns.
#include <algorithm>
#include <vector>

#include "services/import/Importers.h"
#include "services/import/ReaderKit.h"
#include "services/text/Keys.h"
#include "services/text/Strings.h"

namespace quillet::services {
namespace {

void ImportKeywordLine(StoreWriter& store, const ColumnLayout& layout, std::int64_t number, std::string_view line,
                       ImportReport& report) {
  ++report.lines;
  auto fields = SplitFields(line, layout.separator);
  if (!fields) {
    report.Skip(number, skip::kTooManyFields, "over " + std::to_string(limits::kMaxFields));
    return;
  }
  if (fields->size() <= std::max(layout.first, layout.second)) {
    report.Skip(number, skip::kTooFewColumns);
    return;
  }
  std::string why;
  std::optional<std::string> term = NormalizeTerm((*fields)[layout.first], &why);
  if (!term) {
    report.Skip(number, why);
    return;
  }
  const std::string& countText = (*fields)[layout.second];
  std::optional<std::int64_t> count = ParseCount(countText);
  if (!count) {
    report.Skip(number, skip::kSearchCount, Quoted(Trim(countText)));
    return;
  }
  if (store.PutKeyword(*term, *count) == StoreWriter::Put::Added) ++report.added;
  else ++report.replaced;
}

}  // namespace

ImportReport ReadKeywords(StoreWriter& store, InputFile& input, const ImportSettings&, const ImportProgress& progress) {
  ImportReport report;
  ImportLines lines(input, limits::kMaxTableLine, report, progress);
  // The header, if any, is among the first lines; until it is found they are held back.
  std::vector<std::pair<std::int64_t, std::string>> held;
  std::optional<ColumnLayout> layout;
  std::string_view line;
  while (!layout && held.size() < kHeaderSearchLines && lines.Next(&line)) {
    layout = FindColumns(line, "keyword", "avg. monthly searches");
    if (!layout) held.emplace_back(lines.Number(), std::string(line));
  }
  if (layout) {
    held.clear();  // title lines above the header
  } else {
    layout = ColumnLayout();
    if (!held.empty() && held.front().second.find('\t') != std::string::npos) layout->separator = '\t';
  }
  for (const auto& [number, text] : held) ImportKeywordLine(store, *layout, number, text, report);
  while (lines.Next(&line)) ImportKeywordLine(store, *layout, lines.Number(), line, report);
  lines.Finish();
  return report;
}

}  // namespace quillet::services
