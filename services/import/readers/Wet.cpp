// Web-crawl plain-text archives (*.warc.wet.gz): each "conversion" record is the text of one
// page, its address in WARC-Target-URI.
#include "services/import/Importers.h"
#include "services/import/Warc.h"
#include "services/text/Utf8.h"

namespace quillet::services {
namespace {

// A text cut at a byte count may end inside a character; that part is dropped rather than
// shown as a replacement character.
void DropCutCharacter(std::string* text) {
  std::size_t i = text->size();
  while (i > 0 && text->size() - i < 4 && (static_cast<unsigned char>((*text)[i - 1]) & 0xC0) == 0x80) --i;
  if (i == 0) return;
  unsigned char lead = static_cast<unsigned char>((*text)[i - 1]);
  std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (text->size() - (i - 1) < need) text->resize(i - 1);
}

}  // namespace

ImportReport ReadWet(StoreWriter& store, InputFile& input, const ImportSettings&, const ImportProgress& progress) {
  ImportReport report;
  WarcRecords records(input, store, "conversion", limits::kMaxPageText, report, progress);
  WarcRecord record;
  PageInput page;
  while (records.Next(&record)) {
    ++report.lines;
    std::string detail;
    if (std::string problem = PageAddressProblem(record.target, &detail); !problem.empty()) {
      report.Skip(record.number, problem, detail);
      continue;
    }
    if (record.length > static_cast<std::int64_t>(record.block.size())) DropCutCharacter(&record.block);
    page.url = record.target;
    page.text = RepairText(record.block);
    MergeArchivePage(records.Store(), page, record.number, report);
  }
  records.Finish();
  return report;
}

}  // namespace quillet::services
