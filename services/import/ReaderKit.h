#pragma once
// What every reader of an import format shares: the lines of an input with progress and the
// skipping of overlong lines, and the small parsers of fields. A new format is one file in
// services/import/readers/ built from these, and one row of the table in Importers.cpp.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/Limits.h"
#include "services/import/Input.h"
#include "services/import/Report.h"
#include "services/store/Store.h"

namespace quillet::services {

// A whole count up to max, digits optionally grouped by ',' or blanks.
std::optional<std::int64_t> ParseCount(std::string_view text, std::int64_t max = 2147483647);
// The field, trimmed and lower-cased, equals heading (given in lower case).
bool SameHeading(std::string_view field, std::string_view heading);
// One line of comma- or tab-separated fields; double-quoted fields may hold the separator
// and "" for a quote. Empty optional when the line has more than maxFields fields.
std::optional<std::vector<std::string>> SplitFields(std::string_view line, char separator,
                                                    size_t maxFields = limits::kMaxFields);

// A header row, when a file has one, is among its first lines (report titles may come first).
constexpr size_t kHeaderSearchLines = 10;

// Where two wanted columns are in comma- or tab-separated lines.
struct ColumnLayout {
  char separator = ',';
  size_t first = 0;
  size_t second = 1;
};
// The layout of a header line naming both columns (headings in lower case), or none.
std::optional<ColumnLayout> FindColumns(std::string_view line, std::string_view first, std::string_view second);

// Stores the traffic rank a line gives: rankText must be a whole number from 1, host a valid
// host (empty when hostText names none: the line is skipped with hostReason). Counted in
// the report.
void PutRankFields(StoreWriter& store, std::int64_t number, std::string_view rankText, const std::string& host,
                   std::string_view hostText, std::string_view hostReason, ImportReport& report);
// Adds count to the run's total for the term the text names (StoreWriter::TallyKeyword), or
// skips the line with the reason it cannot be a term. Counted in the report.
void TallyTerm(StoreWriter& store, std::int64_t number, std::string_view text, std::int64_t count,
               ImportReport& report);

// Why an address cannot be a stored page's (ill-formed, not http:// or https://, too long,
// no usable host), with what to quote in *detail; empty when it can.
std::string PageAddressProblem(const std::string& url, std::string* detail);

// The lines of one input as a reader wants them: blank lines and overlong lines (skipped and
// counted in the report) left out, progress reported, interruption honoured.
class ImportLines {
 public:
  ImportLines(InputFile& input, std::size_t maxLine, ImportReport& report, const ImportProgress& progress);

  // The next line that is not blank and not too long; false at the end of the file.
  bool Next(std::string_view* line);
  std::int64_t Number() const { return reader_.Number(); }
  // At the end: notes damage of the input in the report, reports the last progress.
  void Finish();

  // For readers of records that are more than lines: every line as it comes, blocks, and
  // progress reported when due (throws ImportInterrupted when it is refused).
  LineReader& Lines() { return reader_; }
  void ReportProgress();

 private:
  InputFile& input_;
  LineReader reader_;
  std::size_t maxLine_;
  ImportReport& report_;
  const ImportProgress& progress_;
  std::int64_t reported_ = 0;
};

}  // namespace quillet::services
