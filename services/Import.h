#pragma once
// Loading real data into a database. Each importer runs in one transaction: it either adds
// everything it accepted or, when it fails or is interrupted, nothing at all. Lines it cannot
// use are rejected one by one and reported with their line numbers; they do not fail it.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "services/Database.h"

namespace quillet::services {

struct ImportReport {
  std::int64_t lines = 0;      // data lines looked at (blank lines and a header not counted)
  std::int64_t added = 0;      // new records
  std::int64_t replaced = 0;   // records that replaced an earlier one with the same key
  std::int64_t rejected = 0;
  std::vector<std::string> problems;  // "line 12: reason", the first kMaxProblems of them
  static constexpr size_t kMaxProblems = 50;

  void Reject(std::int64_t line, const std::string& reason);
};

// Called now and then with the bytes of the file consumed so far and its size. Returning
// false interrupts the import: it throws ImportInterrupted and the database keeps its state.
using ImportProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

class ImportInterrupted : public std::runtime_error {
 public:
  ImportInterrupted() : std::runtime_error("import interrupted") {}
};

// Search volumes: CSV or TSV with a header row naming the columns "Keyword" and
// "Avg. monthly searches" (found among the first lines, so title lines above it are skipped),
// or else two plain columns, term then count. UTF-8, or UTF-16 with a byte order mark.
ImportReport ImportKeywords(Database& db, const std::string& path, const ImportProgress& progress);
// Pages: JSON Lines with url, title, text, links. An address already stored is rejected.
ImportReport ImportPages(Database& db, const std::string& path, const ImportProgress& progress);
// Traffic ranks: lines "rank,domain"; an optional header line is skipped.
ImportReport ImportRanks(Database& db, const std::string& path, const ImportProgress& progress);

// Exposed for the tests.
// Bytes in UTF-8 without a byte order mark: UTF-8 text loses its BOM, UTF-16 text with a
// BOM (either byte order) is converted. Throws std::runtime_error on broken UTF-16.
std::string ToUtf8(std::string bytes);
// One line of comma- or tab-separated fields; double-quoted fields may hold the separator
// and "" for a quote.
std::vector<std::string> SplitFields(const std::string& line, char separator);

}  // namespace quillet::services
