#pragma once
// The keys (addresses, terms, domains) an import tells new from stored by. Private to the
// ClickHouse writer.
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quillet::services::clickhouse {

// A 64-bit hash of a key (an address, a term, a domain) as the store keeps it.
std::uint64_t KeyHash(std::string_view text);

// Keys of one kind that are stored or added by this import, each with a value (a page's
// current id): stored ones in a sorted array (16 bytes each), new ones in a hash map merged
// into it now and then.
class KeySet {
 public:
  using Entry = std::pair<std::uint64_t, std::uint64_t>;
  void Load(std::vector<Entry> entries);
  bool Loaded() const { return loaded_; }
  // False when the key is there already.
  bool Insert(std::uint64_t key, std::uint64_t value = 0);
  std::optional<std::uint64_t> Find(std::uint64_t key) const;
  void Update(std::uint64_t key, std::uint64_t value);
  // Forgets every key, to be loaded again.
  void Clear();

 private:
  void Merge();

  bool loaded_ = false;
  std::vector<Entry> sorted_;
  std::unordered_map<std::uint64_t, std::uint64_t> fresh_;
};

}  // namespace quillet::services::clickhouse
