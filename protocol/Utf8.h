#pragma once
// The one UTF-8 decoder, for the service and the programs beside it alike (the service's text
// rules in services/text/Utf8.h build on it).
#include <cstddef>
#include <string_view>

namespace quillet::protocol {

// What DecodeUtf8 gives for ill-formed UTF-8.
constexpr char32_t kInvalidCodePoint = 0xFFFFFFFF;

// The code point at text[i] and its length in *length. Ill-formed UTF-8 gives
// kInvalidCodePoint with the length of its maximal subpart (the bytes that could still have
// begun a valid sequence), so that one replacement character stands for them. A surrogate
// written as UTF-8 (what a lone surrogate of a UTF-16 file turns into) is decoded to its
// value, 0xD800 to 0xDFFF: no character, and every caller treats it as none.
char32_t DecodeUtf8(std::string_view text, std::size_t i, std::size_t* length);

constexpr bool IsSurrogate(char32_t code) { return code >= 0xD800 && code <= 0xDFFF; }

}  // namespace quillet::protocol
