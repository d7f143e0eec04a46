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
  std::int64_t lines = 0;     // records looked at (blank lines and headers not counted)
  std::int64_t added = 0;     // new records
  std::int64_t replaced = 0;  // records that replaced an earlier one with the same key
  std::int64_t linksDropped = 0;  // links to addresses without a usable host, left out
  std::map<std::string, std::int64_t> skipped;  // by reason
  std::vector<std::string> examples;            // "line 12: reason (detail)", the first few
  std::string damage;  // why the input ended before the file did, or empty
  static constexpr size_t kMaxExamples = 50;

  void Skip(std::int64_t line, const std::string& reason, std::string_view detail = {});
  std::int64_t Skipped() const;
  // Lines were read but none could be stored (pages already stored do not count against it).
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

// Exposed for the tests.
// One line of comma- or tab-separated fields; double-quoted fields may hold the separator
// and "" for a quote. Empty optional when the line has more than maxFields fields.
std::optional<std::vector<std::string>> SplitFields(std::string_view line, char separator,
                                                    size_t maxFields = limits::kMaxFields);

}  // namespace quillet::services
