// Web-crawl metadata archives (*.warc.wat.gz): "metadata" records whose block is JSON
// describing another record. Those that describe an HTML response give the page's address,
// title and anchor links.
#include "services/import/Importers.h"
#include "services/import/Json.h"
#include "services/import/Warc.h"
#include "services/text/Hosts.h"
#include "services/text/Strings.h"
#include "services/text/Utf8.h"

namespace quillet::services {
namespace {

// The JSON paths read, by their place in kPaths.
enum Path { kType, kAddress, kHtml, kTitle, kLinkPath, kLinkUrl };
const std::vector<std::vector<std::string_view>>& Paths() {
  static const std::vector<std::vector<std::string_view>> kPaths = {
      {"Envelope", "WARC-Header-Metadata", "WARC-Type"},
      {"Envelope", "WARC-Header-Metadata", "WARC-Target-URI"},
      {"Envelope", "Payload-Metadata", "HTTP-Response-Metadata", "HTML-Metadata"},
      {"Envelope", "Payload-Metadata", "HTTP-Response-Metadata", "HTML-Metadata", "Head", "Title"},
      {"Envelope", "Payload-Metadata", "HTTP-Response-Metadata", "HTML-Metadata", "Links", "[]", "path"},
      {"Envelope", "Payload-Metadata", "HTTP-Response-Metadata", "HTML-Metadata", "Links", "[]", "url"},
  };
  return kPaths;
}

// A link as written in the page, made absolute against the page's address: empty when it
// names no host of its own (a path, a query, a fragment: it leads to the page's own host,
// so it never counts) and when it leads to no web page (mailto:, javascript:, ...).
std::string AbsoluteLink(std::string_view page, std::string_view link, bool* unusable) {
  link = Trim(link);
  *unusable = false;
  if (link.substr(0, 2) == "//") return std::string(page.substr(0, page.find(':') + 1)) + std::string(link);
  std::size_t colon = link.find(':');
  if (colon == std::string_view::npos || colon == 0 || link.find_first_of("/?#") < colon) return {};
  std::string scheme = Lower(link.substr(0, colon));
  if (scheme == "http" || scheme == "https") return std::string(link);
  *unusable = true;
  return {};
}

struct Metadata {
  std::string type, address, title;
  bool html = false;
  std::vector<std::string> links;
  std::int64_t anchors = 0;  // anchor links found, stored or not
};

}  // namespace

ImportReport ReadWat(StoreWriter& store, InputFile& input, const ImportSettings&, const ImportProgress& progress) {
  ImportReport report;
  WarcRecords records(input, store, "metadata", limits::kMaxMetadataRecord, report, progress);
  report.wanted = "metadata records of HTML responses";
  WarcRecord record;
  Metadata meta;
  PageInput page;
  while (records.Next(&record)) {
    if (record.length > static_cast<std::int64_t>(limits::kMaxMetadataRecord)) {
      ++report.lines;
      report.Skip(record.number, skip::kMetadataTooLong,
                  "over " + std::to_string(limits::kMaxMetadataRecord) + " bytes");
      continue;
    }
    meta = Metadata();
    // A link is complete when its array element is left: path and url may come in any order.
    std::size_t element = SIZE_MAX;
    std::string linkPath, linkUrl;
    auto endLink = [&] {
      if (element != SIZE_MAX && linkPath == "A@/href" && !linkUrl.empty()) {
        ++meta.anchors;
        if (meta.links.size() <= limits::kMaxLinksPerPage) meta.links.push_back(std::move(linkUrl));
      }
      linkPath.clear();
      linkUrl.clear();
    };
    std::string error;
    bool wellFormed = PickJson(
        record.block, Paths(),
        [&](std::size_t path, std::size_t index, const std::string* value) {
          if (path == kHtml) meta.html = true;
          if (!value) return;
          if (path == kLinkPath || path == kLinkUrl) {
            if (index != element) endLink();
            element = index;
            (path == kLinkPath ? linkPath : linkUrl) = *value;
          } else if (path == kType) {
            meta.type = *value;
          } else if (path == kAddress) {
            meta.address = *value;
          } else if (path == kTitle) {
            meta.title = *value;
          }
        },
        &error);
    endLink();
    if (!wellFormed) {
      ++report.lines;
      report.Skip(record.number, skip::kNotJson, error);
      continue;
    }
    // Requests, crawl notes and non-HTML responses (images, redirects) describe no page.
    if (meta.type != "response" || !meta.html) {
      ++report.leftOut[meta.type == "response" ? "responses without HTML"
                                               : "metadata of " + WarcTypeOf(meta.type) + " records"];
      continue;
    }
    ++report.lines;
    if (meta.address.empty()) {
      report.Skip(record.number, skip::kNoPageAddress);
      continue;
    }
    std::string detail;
    if (std::string problem = PageAddressProblem(meta.address, &detail); !problem.empty()) {
      report.Skip(record.number, problem, detail);
      continue;
    }
    if (meta.anchors > static_cast<std::int64_t>(limits::kMaxLinksPerPage)) {
      report.Skip(record.number, skip::kTooManyLinks, "over " + std::to_string(limits::kMaxLinksPerPage));
      continue;
    }
    page.url = std::move(meta.address);
    page.title = RepairText(meta.title.substr(0, limits::kMaxTitleLength));
    page.links.clear();
    for (const std::string& link : meta.links) {
      bool unusable = false;
      std::string absolute = AbsoluteLink(page.url, link, &unusable);
      if (absolute.empty() && !unusable) continue;
      if (ValidHost(absolute).empty()) ++report.linksDropped;
      else page.links.push_back(std::move(absolute));
    }
    MergeArchivePage(records.Store(), page, record.number, report);
  }
  records.Finish();
  return report;
}

}  // namespace quillet::services
