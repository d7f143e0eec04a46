// Pages as JSON Lines: url, title, text, links.
#include "services/JsonLine.h"
#include "services/Text.h"
#include "services/readers/ReaderKit.h"

namespace quillet::services {

ImportReport ImportPages(StoreWriter& store, const std::string& path, const ImportProgress& progress) {
  ImportReport report;
  ImportLines lines(path, limits::kMaxPageLine, report, progress);
  std::string_view line;
  PageRecord record;
  PageInput page;
  while (lines.Next(&line)) {
    ++report.lines;
    std::int64_t number = lines.Number();
    std::string error;
    if (!ParsePageRecord(line, &record, &error, limits::kMaxLinksPerPage)) {
      bool tooMany = error.rfind("more than", 0) == 0;
      report.Skip(number, tooMany ? "too many links" : "not a page record", error);
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
    else report.Skip(number, "address already stored", Quoted(page.url));
  }
  lines.Finish();
  return report;
}

}  // namespace quillet::services
