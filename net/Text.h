#pragma once
// Text operations shared by both research workflows. Texts are 8-bit byte strings as they
// came off the wire; "lower case" always means ASCII letters only.
#include <string>
#include <string_view>

namespace quillet {

// Every occurrence of pattern, matched without regard to ASCII letter case, replaced by
// replacement; the rest keeps its case. The search resumes after each inserted replacement,
// so it ends (in linear time) also when the replacement contains the pattern. An empty
// pattern changes nothing.
std::string ReplaceAll(std::string_view text, std::string_view pattern, std::string_view replacement);

// The text without any ',', '.' or ' '.
std::string StripSeparators(std::string_view text);

std::string ReverseText(std::string_view text);

// True exactly for '0'..'9'.
bool IsDigit(char c);

// ASCII-only lower-casing (bytes >= 0x80 are left alone).
std::string LowerAscii(std::string_view text);

}  // namespace quillet
