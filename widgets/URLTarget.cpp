#include "widgets/URLTarget.h"

namespace quillet::widgets {

const char* SchemeOf(TURLType type) {
  switch (type) {
    case utFTP: return "ftp://";
    case utMailTo: return "mailto:";
    case utHTTP:
    default: return "http://";
  }
}

std::string LinkTarget(const std::string& caption, TURLType type) {
  std::string lower = caption;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  const std::string scheme = SchemeOf(type);
  if (lower.find(scheme) != std::string::npos) return caption;
  return scheme + caption;
}

}  // namespace quillet::widgets
