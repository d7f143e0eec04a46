#pragma once
// Loading real data. An importer streams one file through the input layer (plain or gzip,
// UTF-8 or UTF-16) into a StoreWriter, in bounded memory whatever the file holds. A line it
// cannot use is skipped and counted by reason; it never costs the other lines. The caller
// commits the writer when the importer returns, and throws it away when it throws.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "services/Limits.h"
#include "services/Store.h"

namespace quillet::services {

struct ImportReport {
  std::string unit = "line";                    // what the file is made of: lines, or records of several lines
  std::int64_t lines = 0;                       // records looked at (blank lines and headers not counted)
  std::int64_t added = 0;                       // new records
  std::int64_t replaced = 0;                    // records that replaced an earlier one with the same key
  std::int64_t updated = 0;                     // records that added to a stored page (StoreWriter::MergePage)
  bool sums = false;                            // the reader adds counts to the run's totals instead of storing
  std::int64_t summed = 0;                      // records whose counts went into the run's totals (TallyKeyword)
  std::int64_t linksDropped = 0;                // links to addresses without a usable host, left out
  std::map<std::string, std::int64_t> skipped;  // by reason
  // Records not meant for this import (another project, the archive's own description):
  // not counted as lines, not problems.
  std::map<std::string, std::int64_t> leftOut;
  std::vector<std::string> examples;  // "line 12: reason (detail)", the first few
  std::string damage;                 // why the input ended before the file did, or empty
  static constexpr size_t kMaxExamples = 50;

  void Skip(std::int64_t line, const std::string& reason, std::string_view detail = {});
  std::int64_t Skipped() const;
  // Lines were read but none could be used (pages already stored do not count against it).
  bool NothingStored() const;
  // A few lines for people: counts, skips by reason, the first examples, damage.
  std::string Describe() const;
};

// Called now and then with the bytes of the file consumed so far and its size. Returning
// false interrupts the import: it throws ImportInterrupted.
using ImportProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

class ImportInterrupted : public std::runtime_error {
 public:
  ImportInterrupted() : std::runtime_error("import interrupted") {}
};

// All importers throw InputError when the file cannot be opened or read, ImportInterrupted,
// and whatever the store throws when it cannot write (a full disk).

// Search volumes: CSV or TSV with a header row naming the columns "Keyword" and
// "Avg. monthly searches" (found among the first lines, so title lines above it are skipped),
// or else two plain columns, term then count.
ImportReport ImportKeywords(StoreWriter& store, const std::string& path, const ImportProgress& progress);
// Pages: JSON Lines with url, title, text, links. An address already stored is skipped.
ImportReport ImportPages(StoreWriter& store, const std::string& path, const ImportProgress& progress);
// Traffic ranks: lines "rank,domain"; an optional header line is skipped.
ImportReport ImportRanks(StoreWriter& store, const std::string& path, const ImportProgress& progress);

// Web-crawl plain-text archives (WARC/1.0 "conversion" records): one page per record, its
// text at most limits::kMaxPageText. Pages go in through MergePage: a stored page with text
// is left as it is, one stored from metadata alone gets the text.
ImportReport ImportWet(StoreWriter& store, const std::string& path, const ImportProgress& progress);
// Web-crawl metadata archives (WARC "metadata" records of JSON): the title and the anchor
// links of each HTML response, added to the stored page or stored as a page without text.
ImportReport ImportWat(StoreWriter& store, const std::string& path, const ImportProgress& progress);

// Web-graph rank lists (tab-separated, hosts written reversed): the host's harmonic-centrality
// position, or its PageRank position, becomes its traffic rank.
enum class RankBy { Harmonic, PageRank };
ImportReport ImportHostRanks(StoreWriter& store, const std::string& path, RankBy by, const ImportProgress& progress);

// Readers of demand spread over several files: they add each file's counts to the store's
// tally (StoreWriter::TallyKeyword); the caller stores the tally after the run's last file.
// Hourly pageview dumps: lines "domain_code page_title count_views total_response_size";
// only the project given and its mobile form count ("en": "en" and "en.m"; "en.b": "en.b"
// and "en.m.b").
ImportReport ImportPageviews(StoreWriter& store, const std::string& path, const std::string& project,
                             const ImportProgress& progress);
// Search-console performance exports of queries: CSV with the columns "Top queries" and
// "Impressions" among others.
ImportReport ImportSearchConsole(StoreWriter& store, const std::string& path, const ImportProgress& progress);

// Exposed for the tests.
// One line of comma- or tab-separated fields; double-quoted fields may hold the separator
// and "" for a quote. Empty optional when the line has more than maxFields fields.
std::optional<std::vector<std::string>> SplitFields(std::string_view line, char separator,
                                                    size_t maxFields = limits::kMaxFields);

}  // namespace quillet::services
