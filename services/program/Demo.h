#pragma once
// A made-up but plausible data set for trying the program without real data: niches with
// search volumes spread like real ones (a few big terms, a long tail), generated pages on
// hosts of each niche, links that favour popular hosts, and traffic ranks that follow
// popularity. The same options always give the same data.
#include <cstdint>
#include <functional>
#include <string>

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

// Writes the data set into a store (the caller commits). progress (optional) gets the pages
// written so far and the total.
DemoSummary WriteDemo(StoreWriter& store, const DemoOptions& options, const DemoProgress& progress);

// Builds the data set as a SQLite file at path, replacing any file there only once it is
// complete. When it fails (a full disk), the file there is as it was and no other is left.
DemoSummary BuildDemo(const std::string& path, const DemoOptions& options, const DemoProgress& progress);

}  // namespace quillet::services
