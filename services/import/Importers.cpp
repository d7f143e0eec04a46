#include "services/import/Importers.h"

namespace quillet::services {

// The readers, one per file of services/import/readers/.
ImportReport ReadKeywords(StoreWriter&, InputFile&, const ImportSettings&, const ImportProgress&);
ImportReport ReadJsonPages(StoreWriter&, InputFile&, const ImportSettings&, const ImportProgress&);
ImportReport ReadRanks(StoreWriter&, InputFile&, const ImportSettings&, const ImportProgress&);
ImportReport ReadWet(StoreWriter&, InputFile&, const ImportSettings&, const ImportProgress&);
ImportReport ReadWat(StoreWriter&, InputFile&, const ImportSettings&, const ImportProgress&);
ImportReport ReadHostRanks(StoreWriter&, InputFile&, const ImportSettings&, const ImportProgress&);
ImportReport ReadPageviews(StoreWriter&, InputFile&, const ImportSettings&, const ImportProgress&);
ImportReport ReadSearchConsole(StoreWriter&, InputFile&, const ImportSettings&, const ImportProgress&);

const std::vector<Importer>& Importers() {
  static const std::vector<Importer> kImporters = {
      {"keywords", ReadKeywords, RunKind::kEach, "",
       "search volumes: CSV or TSV, columns Keyword and Avg. monthly searches, or term,count"},
      {"pages", ReadJsonPages, RunKind::kEach, "", "pages: JSON Lines with url, title, text and links"},
      {"ranks", ReadRanks, RunKind::kEach, "", "traffic ranks: lines rank,domain"},
      {"wet", ReadWet, RunKind::kEach, "", "crawl text: WARC files of conversion records (.warc.wet.gz)"},
      {"wat", ReadWat, RunKind::kEach, "", "crawl metadata: WARC files of metadata records (.warc.wat.gz)"},
      {"hostranks", ReadHostRanks, RunKind::kEach, "[--by harmonic|pagerank] [--top N]",
       "web-graph rank lists of hosts or domains (tab-separated, hosts reversed)"},
      {"pageviews", ReadPageviews, RunKind::kHourly, "[--project CODE] [--hours N]",
       "hourly pageview dumps, summed over the files and scaled to a month"},
      {"gsc", ReadSearchConsole, RunKind::kSummed, "",
       "search-console exports of queries (CSV), impressions summed over the files"},
  };
  return kImporters;
}

const Importer* FindImporter(std::string_view kind) {
  for (const Importer& importer : Importers())
    if (importer.kind == kind) return &importer;
  return nullptr;
}

}  // namespace quillet::services
