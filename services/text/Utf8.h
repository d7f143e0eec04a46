#pragma once
// UTF-8 as the service reads and writes it: the one encoder that every other part uses (over
// the one decoder, which the programs beside the service share), the check of what may be
// stored, and the repair of text that is shown.
#include <cstddef>
#include <string>
#include <string_view>

#include "protocol/Utf8.h"

namespace quillet::services {

// The one decoder (protocol/Utf8.h): ill-formed UTF-8 gives kInvalidCodePoint with the length
// of its maximal subpart; a surrogate written as UTF-8 is decoded to its value.
using protocol::DecodeUtf8;
using protocol::IsSurrogate;
using protocol::kInvalidCodePoint;

// Appends the UTF-8 form of code (a surrogate gets its three-byte form, which the checks
// below then name).
void AppendUtf8(std::string& out, char32_t code);

// UTF-16 for Windows' file functions; empty for text that is not well-formed UTF-8.
std::u16string Utf16FromUtf8(std::string_view text);
// UTF-8 of what Windows gives as UTF-16; a lone surrogate becomes U+FFFD, as Windows' own
// conversion makes it.
std::string Utf8FromUtf16(std::u16string_view text);

// Why text is not well-formed UTF-8: empty when it is. A UTF-16 surrogate written as UTF-8
// is named as such.
std::string Utf8Problem(std::string_view text);

// Control characters, refused in keys and blanked in shown text: C0, DEL, C1 (U+0080 to
// U+009F) and the line and paragraph separators U+2028 and U+2029, which break lines in
// some readers as a line feed does.
constexpr bool IsControlCharacter(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029;
}

// True when the (well-formed) text holds a control character.
bool HasControlCharacters(std::string_view text);

// Text to show (titles, page text): ill-formed UTF-8 sequences become U+FFFD and control
// characters blanks, so that no page the service renders can carry them.
std::string RepairText(std::string_view text);

}  // namespace quillet::services
