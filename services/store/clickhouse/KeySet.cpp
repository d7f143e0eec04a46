#include "services/store/clickhouse/KeySet.h"

#include <algorithm>
#include <unordered_set>

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
  if (marked_) undo_.emplace_back(key, std::nullopt);
  fresh_.emplace(key, value);
  // The hash map costs several times the array per key: merged once it holds an eighth as many.
  if (fresh_.size() > 65536 && fresh_.size() > sorted_.size() / 8) Merge();
  return true;
}

void KeySet::Update(std::uint64_t key, std::uint64_t value) {
  if (marked_) undo_.emplace_back(key, Find(key));
  Set(key, value);
}

void KeySet::Set(std::uint64_t key, std::uint64_t value) {
  auto it = LowerKey(sorted_, key);
  if (it != sorted_.end() && it->first == key) it->second = value;
  else fresh_[key] = value;
}

void KeySet::Mark() {
  marked_ = true;
  undo_.clear();
}

void KeySet::Release() {
  marked_ = false;
  undo_.clear();
  undo_.shrink_to_fit();
}

void KeySet::RollBack() {
  std::unordered_set<std::uint64_t> gone;
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
    if (it->second) Set(it->first, *it->second);
    else gone.insert(it->first);
  }
  for (std::uint64_t key : gone) fresh_.erase(key);
  // Keys merged into the array since the mark leave it in one pass.
  if (!gone.empty())
    sorted_.erase(
        std::remove_if(sorted_.begin(), sorted_.end(), [&](const Entry& e) { return gone.count(e.first) > 0; }),
        sorted_.end());
  Release();
}

void KeySet::Merge() {
  size_t old = sorted_.size();
  sorted_.insert(sorted_.end(), fresh_.begin(), fresh_.end());
  fresh_.clear();
  std::sort(sorted_.begin() + static_cast<std::ptrdiff_t>(old), sorted_.end());
  std::inplace_merge(sorted_.begin(), sorted_.begin() + static_cast<std::ptrdiff_t>(old), sorted_.end());
}

}  // namespace quillet::services::clickhouse
