#pragma once
// What may be stored as a key (a term, a host, an address), and the one form a search term
// is stored in.
#include <optional>
#include <string>
#include <string_view>

namespace quillet::services {

// Why a key cannot be stored: ill-formed UTF-8 or a control character (IsControlCharacter).
// Empty when it can.
std::string KeyProblem(std::string_view text);

// A search term as stored: case folded (FoldCase), blanks collapsed to single spaces,
// trimmed, and without what the program's request for the term's phrase cannot carry: a
// '#', and a '%' before two hex digits, each become a blank (the term's words stay the same).
// Empty optional, with the reason in *why, for a term the suggestion page could not carry
// ('<', '>', ';'), ill-formed UTF-8, control characters, an empty, over-long term or one of
// more words than a search may have.
std::optional<std::string> NormalizeTerm(std::string_view text, std::string* why);

}  // namespace quillet::services
