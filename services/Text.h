#pragma once
// Checks and clean-ups of text that comes from import files: what may be stored as a key
// (terms, hosts, addresses) and what is repaired on the way in (titles, page text).
#include <optional>
#include <string>
#include <string_view>

namespace quillet::services {

// Why text is not well-formed UTF-8: empty when it is. A UTF-16 surrogate written as UTF-8
// (which a lone surrogate in a UTF-16 file decodes to) is named as such.
std::string Utf8Problem(std::string_view text);

// True when the text holds a C0 control byte or DEL.
bool HasControlBytes(std::string_view text);

// Text to show (titles, page text): ill-formed UTF-8 sequences become U+FFFD and control
// bytes blanks, so that no page the service renders can carry them.
std::string RepairText(std::string_view text);

// Why a key (term, host, address) cannot be stored: ill-formed UTF-8 or a control byte.
// Empty when it can.
std::string KeyProblem(std::string_view text);

// A search term as stored: ASCII lower case, blanks collapsed to single spaces, trimmed.
// Empty optional, with the reason in *why, for a term the suggestion page could not carry
// ('<', '>', ';'), ill-formed UTF-8, control characters, an empty, over-long term or one of
// more words than a search may have.
std::optional<std::string> NormalizeTerm(std::string_view text, std::string* why);

// A host as keyed: the normalised host of an address (NormalizeHost) when it is a name a
// page could have: letters, digits, '-', '_' and non-ASCII UTF-8, at least one inner dot.
// Empty when it is not.
std::string ValidHost(std::string_view address);

}  // namespace quillet::services
