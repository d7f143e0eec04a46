#pragma once
// How quillet-services and the programs that run it write sizes, durations and counts for
// people, each in one place, and the sums of sizes that a server may declare as anything.
#include <cstdint>
#include <string>

namespace quillet::protocol {

// Decimal units: "512 bytes", "850 kB", "4.2 MB", "120 MB", "1.2 GB", "12 GB".
std::string Bytes(std::int64_t bytes);
// "32 kB/s", "12.3 MB/s"; empty when there is no rate yet.
std::string Rate(double bytesPerSecond);
// "45 s", "12 min", "1.5 h".
std::string Duration(double seconds);
// "1,234,567".
std::string Thousands(std::int64_t value);
// "1 file", "2 files": the word is made plural with an s.
std::string Counted(std::int64_t count, const std::string& word);

// Sums and products of sizes that stop at the largest value instead of overflowing; a
// negative size (unknown) counts as none.
std::int64_t AddSizes(std::int64_t a, std::int64_t b);
std::int64_t ScaleSize(std::int64_t bytes, double factor);

}  // namespace quillet::protocol
