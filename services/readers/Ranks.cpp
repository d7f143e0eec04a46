// Traffic ranks: lines "rank,domain", as the common top-sites lists have them.
#include "services/Text.h"
#include "services/readers/ReaderKit.h"

namespace quillet::services {

ImportReport ImportRanks(StoreWriter& store, const std::string& path, const ImportProgress& progress) {
  ImportReport report;
  ImportLines lines(path, limits::kMaxTableLine, report, progress);
  std::string_view line;
  bool first = true;
  while (lines.Next(&line)) {
    char separator = line.find('\t') != std::string_view::npos ? '\t' : ',';
    auto fields = SplitFields(line, separator, 2);
    bool header = first && fields && fields->size() == 2 && SameHeading((*fields)[0], "rank");
    first = false;
    if (header) continue;
    ++report.lines;
    std::int64_t number = lines.Number();
    if (!fields || fields->size() != 2) {
      report.Skip(number, "not two fields, rank and domain");
      continue;
    }
    std::string_view domain = Trim((*fields)[1]);
    PutRankFields(store, number, (*fields)[0], ValidHost(domain), domain, "not a domain name", report);
  }
  lines.Finish();
  return report;
}

}  // namespace quillet::services
