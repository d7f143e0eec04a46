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
  // Changes from here on can be undone (RollBack, as the import's rows are) or kept
  // (Release). Each change since the mark costs a note of what it replaced.
  void Mark();
  void Release();
  void RollBack();

 private:
  void Merge();
  void Set(std::uint64_t key, std::uint64_t value);

  bool loaded_ = false;
  std::vector<Entry> sorted_;
  std::unordered_map<std::uint64_t, std::uint64_t> fresh_;
  bool marked_ = false;
  std::vector<std::pair<std::uint64_t, std::optional<std::uint64_t>>> undo_;  // key, value before (none: new)
};

}  // namespace quillet::services::clickhouse
