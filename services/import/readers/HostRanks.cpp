// Web-graph rank lists (host or domain level): tab-separated lines under a header
// "#harmonicc_pos #harmonicc_val #pr_pos #pr_val #host_rev", optionally "#n_hosts", each
// host written reversed ("com.example.www").
#include <algorithm>

#include "services/import/Importers.h"
#include "services/import/ReaderKit.h"
#include "services/text/Hosts.h"
#include "services/text/Strings.h"

namespace quillet::services {
namespace {

// "com.example.www" -> "www.example.com".
std::string Unreversed(std::string_view reversed) {
  std::string host;
  while (true) {
    size_t dot = reversed.rfind('.');
    if (!host.empty()) host += '.';
    if (dot == std::string_view::npos) return host += reversed;
    host += reversed.substr(dot + 1);
    reversed = reversed.substr(0, dot);
  }
}

}  // namespace

ImportReport ReadHostRanks(StoreWriter& target, InputFile& input, const ImportSettings& settings,
                           const ImportProgress& progress) {
  const RankBy by = settings.rankBy;
  ImportReport report;
  ImportLines lines(input, target, limits::kMaxTableLine, report, progress);
  StoreWriter& store = lines.Store();
  const char* rankHeading = by == RankBy::Harmonic ? "#harmonicc_pos" : "#pr_pos";
  // Columns as the published lists have them, unless a header says otherwise.
  size_t rankColumn = by == RankBy::Harmonic ? 0 : 2, hostColumn = 4;
  std::string_view line;
  while (lines.Next(&line)) {
    std::int64_t number = lines.Number();
    auto fields = SplitFields(line, '\t');
    if (line.front() == '#') {
      std::optional<size_t> rank, host;
      for (size_t f = 0; fields && f < fields->size(); ++f) {
        if (SameHeading((*fields)[f], rankHeading)) rank = f;
        if (SameHeading((*fields)[f], "#host_rev")) host = f;
      }
      if (rank && host) {
        rankColumn = *rank;
        hostColumn = *host;
      } else {
        ++report.lines;
        report.Skip(number, skip::HeaderWithout(rankHeading), Quoted(line));
      }
      continue;
    }
    // The lists are sorted best first: their top is their first lines.
    if (settings.top > 0 && report.lines == settings.top) {
      report.stoppedAt = settings.top;
      break;
    }
    ++report.lines;
    if (!fields || fields->size() <= std::max(rankColumn, hostColumn)) {
      report.Skip(number, fields ? skip::kTooFewFields : skip::kTooManyFields);
      continue;
    }
    std::string_view reversed = Trim((*fields)[hostColumn]);
    PutRankFields(store, number, (*fields)[rankColumn], ValidHost(Unreversed(reversed)), reversed, skip::kNotAHostName,
                  report);
  }
  lines.Finish();
  return report;
}

}  // namespace quillet::services
