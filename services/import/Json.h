#pragma once
// Strict JSON readers: one line of a JSON Lines page file, and the few values wanted out of a
// larger nested document (crawl metadata), in memory bounded by the text and depth bounded
// by limits::kMaxJsonDepth.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "services/Limits.h"

namespace quillet::services {

struct PageRecord {
  std::string url;
  std::string title;
  std::string text;
  std::vector<std::string> links;
  bool tooManyLinks = false;  // why ParsePageRecord refused it
};

// False, with a reason naming the 1-based column in *error, when the line is not one
// well-formed object, a known key has a value of the wrong type, or links holds more than
// maxLinks addresses (then tooManyLinks is set). Escapes are decoded to UTF-8; an
// unpaired surrogate escape to its three-byte form, which the UTF-8 check names.
// One object with the keys url, title, text (strings) and links (array of strings). Other
// keys may hold any JSON value and are skipped; a key given twice keeps its last value.
bool ParsePageRecord(std::string_view line, PageRecord* record, std::string* error, size_t maxLinks = SIZE_MAX);

// Where a value was found, and the value: the decoded text of a string, null for any other
// kind of value (an object or array met this way is still walked for longer paths).
// element is the index of the value's element in the innermost array on its path (0 when
// none), so that values found in the same array element can be told apart from the next.
using JsonFound = std::function<void(std::size_t path, std::size_t element, const std::string* value)>;

// Walks one JSON document and calls found, in document order, for each value at one of the
// key paths (at most 64). A path lists object keys from the top; "[]" stands for every
// element of an array. Everything else is skipped without being decoded or kept. False,
// with a reason naming the 1-based column in *error, when the text is not one well-formed
// JSON value or nests deeper than limits::kMaxJsonDepth; found may have been called before.
bool PickJson(std::string_view text, const std::vector<std::vector<std::string_view>>& paths, const JsonFound& found,
              std::string* error);

}  // namespace quillet::services
