#pragma once
// The rule by which a hyperlink label turns its caption into the address it opens.
// Portable: no window system.
#include <string>

namespace quillet::widgets {

// Link kinds of the hyperlink label, stored in one byte.
enum TURLType : unsigned char { utHTTP = 0, utFTP = 1, utMailTo = 2 };

// "http://", "ftp://" or "mailto:"; an out-of-range value counts as utHTTP.
const char* SchemeOf(TURLType type);

// The caption unchanged when its ASCII-lower-cased form holds the scheme of `type`
// anywhere; otherwise the scheme followed by the caption.
std::string LinkTarget(const std::string& caption, TURLType type);

}  // namespace quillet::widgets
