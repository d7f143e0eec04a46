#include "net/Text.h"

namespace quillet {
namespace {

char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

std::string ReplaceAll(std::string_view text, std::string_view pattern, std::string_view replacement) {
  if (pattern.empty() || pattern.size() > text.size()) return std::string(text);
  const std::string lowText = LowerAscii(text);
  const std::string lowPattern = LowerAscii(pattern);
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  // Resuming after each match (instead of restarting at the front) keeps this linear and
  // finite; for patterns that cannot reappear through a replacement the result is the same.
  for (std::size_t at = lowText.find(lowPattern); at != std::string::npos;
       at = lowText.find(lowPattern, from)) {
    out.append(text.substr(from, at - from));
    out.append(replacement);
    from = at + pattern.size();
  }
  out.append(text.substr(from));
  return out;
}

std::string StripSeparators(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != ',' && c != '.' && c != ' ') out.push_back(c);
  return out;
}

std::string ReverseText(std::string_view text) { return std::string(text.rbegin(), text.rend()); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace quillet
