#include "services/store/clickhouse/KeySet.h"

#include <algorithm>

namespace quillet::services::clickhouse {

std::uint64_t KeyHash(std::string_view text) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ull;
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  return h ^ (h >> 33);
}

void KeySet::Load(std::vector<Entry> entries) {
  sorted_ = std::move(entries);
  std::sort(sorted_.begin(), sorted_.end());
  loaded_ = true;
}

namespace {
template <typename Entries>
auto LowerKey(Entries& sorted, std::uint64_t key) {
  return std::lower_bound(sorted.begin(), sorted.end(), key,
                          [](const KeySet::Entry& entry, std::uint64_t k) { return entry.first < k; });
}
}  // namespace

std::optional<std::uint64_t> KeySet::Find(std::uint64_t key) const {
  auto it = LowerKey(sorted_, key);
  if (it != sorted_.end() && it->first == key) return it->second;
  auto fresh = fresh_.find(key);
  if (fresh != fresh_.end()) return fresh->second;
  return std::nullopt;
}

bool KeySet::Insert(std::uint64_t key, std::uint64_t value) {
  if (Find(key)) return false;
  fresh_.emplace(key, value);
  // The hash map costs several times the array per key: merged once it holds an eighth as many.
  if (fresh_.size() > 65536 && fresh_.size() > sorted_.size() / 8) Merge();
  return true;
}

void KeySet::Update(std::uint64_t key, std::uint64_t value) {
  auto it = LowerKey(sorted_, key);
  if (it != sorted_.end() && it->first == key) it->second = value;
  else fresh_[key] = value;
}

void KeySet::Clear() {
  loaded_ = false;
  std::vector<Entry>().swap(sorted_);
  std::unordered_map<std::uint64_t, std::uint64_t>().swap(fresh_);
}

void KeySet::Merge() {
  size_t old = sorted_.size();
  sorted_.insert(sorted_.end(), fresh_.begin(), fresh_.end());
  fresh_.clear();
  std::sort(sorted_.begin() + static_cast<std::ptrdiff_t>(old), sorted_.end());
  std::inplace_merge(sorted_.begin(), sorted_.begin() + static_cast<std::ptrdiff_t>(old), sorted_.end());
}

}  // namespace quillet::services::clickhouse
