// Pages as JSON Lines: url, title, text, links.
#include "services/import/Importers.h"
#include "services/import/Json.h"
#include "services/import/ReaderKit.h"
#include "services/text/Hosts.h"
#include "services/text/Utf8.h"

namespace quillet::services {

ImportReport ReadJsonPages(StoreWriter& target, InputFile& input, const ImportSettings&,
                           const ImportProgress& progress) {
  ImportReport report;
  ImportLines lines(input, target, limits::kMaxPageLine, report, progress);
  StoreWriter& store = lines.Store();
  std::string_view line;
  PageRecord record;
  PageInput page;
  while (lines.Next(&line)) {
    ++report.lines;
    std::int64_t number = lines.Number();
    std::string error;
    if (!ParsePageRecord(line, &record, &error, limits::kMaxLinksPerPage)) {
      report.Skip(number, record.tooManyLinks ? skip::kTooManyLinks : skip::kNotAPageRecord, error);
      continue;
    }
    std::string detail;
    if (std::string problem = PageAddressProblem(record.url, &detail); !problem.empty()) {
      report.Skip(number, problem, detail);
      continue;
    }
    page.url = std::move(record.url);
    page.title = RepairText(record.title.substr(0, limits::kMaxTitleLength));
    page.text = RepairText(record.text);
    page.links.clear();
    for (std::string& link : record.links) {
      if (ValidHost(link).empty()) ++report.linksDropped;
      else page.links.push_back(std::move(link));
    }
    if (store.AddPage(page)) ++report.added;
    else report.AlreadyStored(number, page.url);
  }
  lines.Finish();
  return report;
}

}  // namespace quillet::services
