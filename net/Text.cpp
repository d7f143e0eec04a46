#include "net/Text.h"

#include <algorithm>

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
  const std::string lowPattern = LowerAscii(pattern);
  // A pattern without letters matches the same bytes in any case, so the text itself is
  // searched; only a pattern with letters needs the lower-cased copy.
  const bool hasLetters =
      std::any_of(lowPattern.begin(), lowPattern.end(), [](char c) { return c >= 'a' && c <= 'z'; });
  const std::string lowText = hasLetters ? LowerAscii(text) : std::string();
  const std::string_view haystack = hasLetters ? std::string_view(lowText) : text;
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  // Resuming after each match (instead of restarting at the front) keeps this linear and
  // finite; for patterns that cannot reappear through a replacement the result is the same.
  for (std::size_t at = haystack.find(lowPattern); at != std::string_view::npos; at = haystack.find(lowPattern, from)) {
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
