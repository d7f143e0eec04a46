#include "ProgramRules.h"

#include "net/Text.h"

namespace quillet::services::testing {
namespace {

// 1-based position, 0 when absent.
size_t Pos(const std::string& marker, const std::string& text) {
  size_t at = text.find(marker);
  return at == std::string::npos ? 0 : at + 1;
}

std::string Copy(const std::string& text, size_t pos, long long count) {
  if (count <= 0) return {};
  size_t start = pos == 0 ? 0 : pos - 1;
  if (start >= text.size()) return {};
  return text.substr(start, static_cast<size_t>(count));
}

std::string From(const std::string& text, size_t pos) { return pos == 0 ? text : Copy(text, pos, 1LL << 60); }

std::string ExtractHost(std::string address) {
  address = LowerAscii(address);
  size_t scheme = address.find("http://");
  if (scheme != std::string::npos) address = address.substr(scheme + 7);
  size_t slash = address.find('/');
  if (slash != std::string::npos) address = address.substr(0, slash);
  return address;
}

std::string ParseNextResult(std::string& rest) {
  std::string site;
  if (!rest.empty()) {
    std::string item = From(rest, Pos("<li>", rest) + 4);
    size_t a = Pos("<em", item) + 3;
    size_t e = Pos("</em>", item);
    std::string field = e == 0 ? std::string() : Copy(item, a, static_cast<long long>(e) - static_cast<long long>(a));
    size_t g = Pos(">", field);
    field = From(field, g + 1);
    if (field.size() >= 3 && field.find('.') != std::string::npos) site = field;
    size_t next = Pos("<li>", item);
    rest = next == 0 ? item : From(item, next);
  }
  return ExtractHost(site);
}

}  // namespace

std::vector<std::string> ReadResultHosts(const std::string& page) {
  std::string lower = LowerAscii(page);
  std::string rest = From(lower, Pos("of about", lower));
  std::vector<std::string> hosts;
  if (Pos("<li>", rest) == 0) return hosts;
  do {
    hosts.push_back(ParseNextResult(rest));
  } while (Pos("<li>", rest) != 0);
  return hosts;
}

std::string ReadLinkCount(const std::string& page) {
  std::string lower = LowerAscii(page);
  std::string result;
  size_t a = Pos("of about", lower);
  if (a == 0) {
    result = "0";
  } else {
    std::string window = Copy(lower, a, 300);
    size_t g = Pos(">", window);
    size_t e = Pos("</", window);
    result = Copy(window, g + 1, static_cast<long long>(e) - static_cast<long long>(g) - 1);
  }
  if (result.empty()) result = "0";
  return StripSeparators(result);
}

std::string ReadTrafficRank(const std::string& page) {
  std::string lower = LowerAscii(page);
  std::string s = From(lower, Pos("traffic rank for ", lower));
  size_t b = Pos("<br>", s);
  s = Copy(s, 1, static_cast<long long>(b));
  std::string rank;
  for (size_t i = 1; i < s.size(); ++i)
    if (IsDigit(s[i]) && s[i - 1] == '>') rank += s[i];
  if (rank.empty()) rank = "999999999";
  return StripSeparators(rank);
}

}  // namespace quillet::services::testing
