#pragma once
// The two settings of the affiliate program search: where they are stored, their defaults and
// bounds, and how the stored values are taken in. The settings dialog shows them in its
// fields; the command-line research reads the same stored values.
#include <cstdint>

namespace quillet {

// Below HKEY_CURRENT_USER; REG_DWORD values "skip" and "results".
inline constexpr char kSetupKey[] = "\\Software\\Orvane\\Quillet1\\Setup";
inline constexpr std::int32_t kDefaultSkip = 0;
inline constexpr std::int32_t kDefaultResults = 20;
// The number of results asked for stays within these; the number skipped has no bounds.
inline constexpr std::int32_t kMinResults = 2;
inline constexpr std::int32_t kMaxResults = 30;

struct SearchSettings {
  std::int32_t skip = kDefaultSkip;
  std::int32_t results = kDefaultResults;
};

// The nearest number of results within kMinResults..kMaxResults.
std::int32_t BoundResults(std::int64_t results);

// Reads "skip", then "results" (bounded) from the key that holds them: win::RegistryKey, or
// anything else with ValueExists(name) and ReadDword(name), which gives a 32-bit value or
// nothing when the value is missing or of another type. A value that is there but cannot be
// read ends the reading at once: it and what follows keep their defaults.
template <typename Key>
SearchSettings ReadSearchSettings(const Key& key) {
  SearchSettings settings;
  const auto skip = key.ReadDword("skip");
  if (!skip && key.ValueExists("skip")) return settings;
  if (skip) settings.skip = static_cast<std::int32_t>(*skip);
  if (const auto results = key.ReadDword("results"))
    settings.results = BoundResults(static_cast<std::int32_t>(*results));
  return settings;
}

}  // namespace quillet
