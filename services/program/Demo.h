#pragma once
// A made-up but plausible data set for trying the program without real data: niches with
// search volumes spread like real ones (a few big terms, a long tail), generated pages on
// hosts of each niche, links that favour popular hosts, and traffic ranks that follow
// popularity. The same options always give the same data.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "services/store/Store.h"

namespace quillet::services {

struct DemoOptions {
  int pages = 240000;
  int hosts = 3000;
  std::uint64_t seed = 20261207;
};

struct DemoSummary {
  std::int64_t keywords = 0;
  std::int64_t pages = 0;
  std::int64_t hosts = 0;
  std::int64_t links = 0;
  std::int64_t ranks = 0;
};

using DemoProgress = std::function<void(std::int64_t done, std::int64_t total)>;

// The address and kind under which the data set records itself as a store's source.
inline constexpr const char* kDemoSource = "demo";

// Writes the data set into a store (the caller commits), recorded as the source kDemoSource.
// progress (optional) gets the pages written so far and the total.
DemoSummary WriteDemo(StoreWriter& store, const DemoOptions& options, const DemoProgress& progress);

// Whether a store holds data that someone imported or fetched: a source other than the demo
// data set, or data with no source recorded at all (a store of an earlier version, whose
// imports were not recorded, may hold anything).
bool HoldsUserData(const std::vector<SourceRecord>& sources, const StoreCounts& counts);

// Where BuildDemo keeps the file it replaced: beside it, until the next log-on start of the
// service on Windows (quillet-services-start) or the next demo that keeps one.
std::string KeptBeforeDemo(const std::string& path);

// Puts the complete SQLite file built in the place of the one at path (renamed over it, its
// log and index removed); with keep, the file replaced is moved to KeptBeforeDemo(path) with
// its log. When it cannot, it removes built and throws, and path is as it was.
void PutInPlace(const std::string& path, const std::string& built, bool keep);
// Puts KeptBeforeDemo(path) back in the place of path, with its log. Throws when there is none
// or it cannot be moved (a file in use on Windows), and then both are as they were.
void TakeBackKept(const std::string& path);
// Removes a SQLite file with its journal, log and index, if they are there.
void RemoveDatabase(const std::string& path);

// Builds the data set as a SQLite file at path, replacing any file there only once it is
// complete. When it fails (a full disk), the file there is as it was and no other is left.
// With keep, the file replaced is moved to KeptBeforeDemo(path) with its log instead of
// being deleted.
DemoSummary BuildDemo(const std::string& path, const DemoOptions& options, const DemoProgress& progress,
                      bool keep = false);

// Replaces the file at path by an empty research database as BuildDemo replaces it: where
// real data is got in place of the demo data, so that the two are never mixed.
void BuildEmpty(const std::string& path);

}  // namespace quillet::services
