#include "services/Query.h"

#include <algorithm>

namespace quillet::services {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

}  // namespace

std::string DecodeQueryValue(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+' && plusIsSpace) {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::map<std::string, std::string> ParseQuery(std::string_view rawQuery, const std::vector<std::string_view>& keys,
                                              bool plusIsSpace) {
  std::map<std::string, std::string> result;
  std::string currentKey;
  std::string currentRaw;
  bool haveKey = false;
  auto flush = [&] {
    if (haveKey) result.emplace(currentKey, DecodeQueryValue(currentRaw, plusIsSpace));
  };
  size_t start = 0;
  while (start <= rawQuery.size()) {
    size_t end = rawQuery.find('&', start);
    if (end == std::string_view::npos) end = rawQuery.size();
    std::string_view piece = rawQuery.substr(start, end - start);
    size_t eq = piece.find('=');
    std::string_view key = eq == std::string_view::npos ? piece : piece.substr(0, eq);
    bool known = eq != std::string_view::npos && std::find(keys.begin(), keys.end(), key) != keys.end();
    if (known) {
      flush();
      currentKey = std::string(key);
      currentRaw = std::string(piece.substr(eq + 1));
      haveKey = true;
    } else if (haveKey) {
      currentRaw += '&';
      currentRaw += piece;
    }
    start = end + 1;
  }
  flush();
  return result;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSpace(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !IsSpace(text[i])) ++i;
    if (i > start) {
      std::string word = Lower(text.substr(start, i - start));
      if (std::find(words.begin(), words.end(), word) == words.end()) words.push_back(std::move(word));
    }
  }
  return words;
}

std::string NormalizeHost(std::string_view address) {
  std::string host = Lower(address);
  size_t scheme = host.find("://");
  if (scheme != std::string::npos) host.erase(0, scheme + 3);
  size_t end = host.find_first_of("/?#");
  if (end != std::string::npos) host.erase(end);
  size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  size_t colon = host.find(':');
  if (colon != std::string::npos) host.erase(colon);
  while (!host.empty() && host.back() == '.') host.pop_back();
  if (host.rfind("www.", 0) == 0) host.erase(0, 4);
  return host;
}

}  // namespace quillet::services
