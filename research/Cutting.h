#pragma once
// The page-cutting vocabulary both research workflows share: 1-based positions where an
// absent marker is 0, and a copy that tolerates every position and count the rules can
// produce (position 0 means the start; a count of 0 or less gives an empty text).
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillet {

// 1-based position of the first occurrence of marker in text, 0 when absent.
std::size_t Pos(std::string_view marker, std::string_view text);

// count characters of text from 1-based position pos.
std::string_view Copy(std::string_view text, std::size_t pos, std::int64_t count);

// Text from 1-based position pos to the end.
std::string_view From(std::string_view text, std::size_t pos);

// Reads a signed 32-bit decimal integer: optional sign, then digits only. False (and value
// untouched) for anything else, including an empty text and a number out of range.
bool ReadInt32(std::string_view text, std::int32_t& value);

// Finds markers in one page while the reading point only moves forward: a marker's next
// position is remembered and reused until the reading point passes it, so cutting a whole
// page costs time linear in its length however the markers are spread.
class ForwardScanner {
 public:
  explicit ForwardScanner(std::string_view text) : text_(text) {}
  // 0-based index of the first occurrence of marker at or after from, or npos.
  std::size_t Find(std::string_view marker, std::size_t from);

 private:
  struct Entry {
    std::string_view marker;
    std::size_t searchedFrom = 0;
    std::size_t found = std::string_view::npos;
  };
  std::string_view text_;
  Entry entries_[4];
  std::size_t used_ = 0;
};

}  // namespace quillet
