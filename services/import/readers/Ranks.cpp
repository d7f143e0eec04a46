// Traffic ranks: lines "rank,domain", as the common top-sites lists have them.
#include "services/import/Importers.h"
#include "services/import/ReaderKit.h"
#include "services/text/Hosts.h"
#include "services/text/Strings.h"

namespace quillet::services {

ImportReport ReadRanks(StoreWriter& target, InputFile& input, const ImportSettings&, const ImportProgress& progress) {
  ImportReport report;
  ImportLines lines(input, target, limits::kMaxTableLine, report, progress);
  StoreWriter& store = lines.Store();
  std::string_view line;
  bool first = true;
  char separator = 0;
  while (lines.NextRecord(&line, &separator)) {
    auto fields = SplitFields(line, separator, 2);
    bool header = first && fields && fields->size() == 2 && SameHeading((*fields)[0], "rank");
    first = false;
    if (header) continue;
    ++report.lines;
    std::int64_t number = lines.Number();
    if (!fields || fields->size() != 2) {
      report.Skip(number, skip::kNotRankAndDomain);
      continue;
    }
    std::string_view domain = Trim((*fields)[1]);
    PutRankFields(store, number, (*fields)[0], ValidHost(domain), domain, skip::kNotADomainName, report);
  }
  lines.Finish();
  return report;
}

}  // namespace quillet::services
