#pragma once
// What every reader of an import format shares: the lines of a file with progress and the
// skipping of overlong lines, and the small parsers of fields. A new format is one file in
// services/readers/ built from these.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "services/Import.h"
#include "services/Input.h"

namespace quillet::services {

std::string_view Trim(std::string_view text);
// A whole count up to max, digits optionally grouped by ',' or blanks.
std::optional<std::int64_t> ParseCount(std::string_view text, std::int64_t max = 2147483647);
// The field, trimmed and lower-cased, equals heading (given in lower case).
bool SameHeading(std::string_view field, std::string_view heading);
// Text safe to quote in a report line: repaired and shortened.
std::string Quoted(std::string_view text);

// The lines of one file as a reader wants them: blank lines and overlong lines (skipped and
// counted in the report) left out, progress reported, interruption honoured.
class ImportLines {
 public:
  // Throws InputError when the file cannot be opened.
  ImportLines(const std::string& path, std::size_t maxLine, ImportReport& report, const ImportProgress& progress);

  // The next line that is not blank and not too long; false at the end of the file.
  bool Next(std::string_view* line);
  std::int64_t Number() const { return reader_.Number(); }
  // At the end: notes damage of the input in the report, reports the last progress.
  void Finish();

 private:
  InputFile input_;
  LineReader reader_;
  std::size_t maxLine_;
  ImportReport& report_;
  const ImportProgress& progress_;
  std::int64_t reported_ = 0;
};

}  // namespace quillet::services
