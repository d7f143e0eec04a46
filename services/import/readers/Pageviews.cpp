// Hourly pageview dumps of a public encyclopedia: lines
// "domain_code page_title count_views total_response_size", space-separated; titles with
// underscores for blanks and percent-escapes.
#include <algorithm>

#include "services/import/Importers.h"
#include "services/import/ReaderKit.h"
#include "services/text/Strings.h"

namespace quillet::services {
namespace {

constexpr size_t kFields = 4;

// The mobile site's code: ".m" after the language ("en" -> "en.m", "en.b" -> "en.m.b").
std::string MobileCode(const std::string& project) {
  size_t dot = project.find('.');
  return dot == std::string::npos ? project + ".m" : project.substr(0, dot) + ".m" + project.substr(dot);
}

}  // namespace

ImportReport ReadPageviews(StoreWriter& target, InputFile& input, const ImportSettings& settings,
                           const ImportProgress& progress) {
  const std::string& project = settings.project;
  ImportReport report;
  report.sums = true;
  report.wanted = "lines of project " + project;
  ImportLines lines(input, target, limits::kMaxTableLine, report, progress);
  StoreWriter& store = lines.Store();
  const std::string mobile = MobileCode(project);
  std::string_view line;
  std::vector<std::string_view> fields;
  while (lines.Next(&line)) {
    fields.clear();
    for (size_t start = 0; fields.size() <= kFields;) {
      size_t blank = std::min(line.find(' ', start), line.size());
      fields.push_back(line.substr(start, blank - start));
      if (blank == line.size()) break;
      start = blank + 1;
    }
    if (fields[0] != project && fields[0] != mobile) {
      ++report.leftOut["lines of other projects"];
      continue;
    }
    ++report.lines;
    std::int64_t number = lines.Number();
    if (fields.size() != kFields) {
      report.Skip(number, skip::kNotFourFields, Quoted(line));
      continue;
    }
    std::optional<std::int64_t> views = ParseCount(fields[2]);
    if (!views) {
      report.Skip(number, skip::kViewCount, Quoted(fields[2]));
      continue;
    }
    std::string title = PercentDecode(fields[1], false);
    std::replace(title.begin(), title.end(), '_', ' ');
    TallyTerm(store, number, title, *views, report);
  }
  lines.Finish();
  return report;
}

}  // namespace quillet::services
