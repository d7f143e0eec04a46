#include "research/Cutting.h"

#include <limits>

namespace quillet {

std::size_t Pos(std::string_view marker, std::string_view text) {
  const std::size_t at = text.find(marker);
  return at == std::string_view::npos ? 0 : at + 1;
}

std::string_view Copy(std::string_view text, std::size_t pos, std::int64_t count) {
  const std::size_t start = pos == 0 ? 0 : pos - 1;
  if (count <= 0 || start >= text.size()) return {};
  return text.substr(start, static_cast<std::size_t>(count));
}

std::string_view From(std::string_view text, std::size_t pos) {
  const std::size_t start = pos == 0 ? 0 : pos - 1;
  return start >= text.size() ? std::string_view() : text.substr(start);
}

bool ReadInt32(std::string_view text, std::int32_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  std::int64_t magnitude = 0;
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                                      : std::numeric_limits<std::int32_t>::max();
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit) return false;
  }
  value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return true;
}

std::size_t ForwardScanner::Find(std::string_view marker, std::size_t from) {
  Entry* entry = nullptr;
  for (std::size_t i = 0; i < used_; ++i)
    if (entries_[i].marker == marker) entry = &entries_[i];
  if (!entry) {
    if (used_ == std::size(entries_)) return text_.find(marker, from);
    entry = &entries_[used_++];
    entry->marker = marker;
    entry->searchedFrom = from;
    entry->found = text_.find(marker, from);
    return entry->found;
  }
  // A remembered hit at or after `from` is still the first one, as long as the earlier
  // search began no later than `from`; a remembered miss stays a miss for any later start.
  if (entry->searchedFrom <= from && (entry->found == std::string_view::npos || entry->found >= from))
    return entry->found;
  entry->searchedFrom = from;
  entry->found = text_.find(marker, from);
  return entry->found;
}

}  // namespace quillet
