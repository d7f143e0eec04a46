#pragma once
// What the public data weighs, for `get` deciding whether a file fits on the disk and for the
// Quillet Data window offering sizes before any server is asked: the publishers' files,
// gzipped, and what the store grows by per byte of each kind read. Measured on generated and
// real files (services/README.md).
#include <cstdint>
#include <string_view>

namespace quillet::protocol {

inline constexpr std::int64_t kMetadataFileBytes = 250'000'000;  // a crawl's WAT file
inline constexpr std::int64_t kTextFileBytes = 100'000'000;      // a crawl's WET file
inline constexpr std::int64_t kPageviewHourBytes = 65'000'000;   // an hour of pageviews
inline constexpr std::int64_t kRankLineBytes = 16;               // a line of a rank list
inline constexpr std::int64_t kRankListLines = 120'000'000;      // a whole domain rank list

// Store bytes an import of the kind adds per byte of compressed input, roughly: crawl text
// with its index about 2, metadata (titles, links) about 1, rank lists about 30 bytes a line
// of about 16, a day of pageviews' sums and terms about as much as the dumps.
constexpr double StoreGrowth(std::string_view kind) { return kind == "wet" || kind == "hostranks" ? 2.0 : 1.0; }

}  // namespace quillet::protocol
