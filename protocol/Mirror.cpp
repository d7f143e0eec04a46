#include "protocol/Mirror.h"

#include <algorithm>

namespace quillet::protocol {
namespace {

// Where the authority of an http(s) address starts ("//" past), or npos.
std::size_t AuthorityStart(std::string_view url) {
  for (std::string_view scheme : {"http://", "https://"})
    if (url.substr(0, scheme.size()) == scheme) return scheme.size();
  return std::string_view::npos;
}

bool HostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
}

}  // namespace

std::string MirrorProblem(std::string_view text) {
  const std::size_t start = AuthorityStart(text);
  if (start == std::string_view::npos) return "a mirror address starts with http:// or https://";
  if (std::any_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) <= ' ' || c == 0x7F || c == '?' || c == '#' || c == '\\';
      }))
    return "a mirror address holds no blanks, control characters, '?', '#' or '\\'";
  const std::string_view rest = text.substr(start);
  std::string_view authority = rest.substr(0, rest.find('/'));
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  std::string_view host = authority, port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos || close == 1) return "a mirror address has an empty or unclosed host in [ ]";
    host = authority.substr(1, close - 1);
    if (!std::all_of(host.begin(), host.end(), [](char c) { return HostCharacter(c) || c == ':'; }))
      return "the host of a mirror address is an IPv6 address in [ ] or a name of letters, digits, '-' and '.'";
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return "a mirror address has something after its host in [ ]";
      port = after.substr(1);
      if (port.empty()) return "a mirror address has ':' after its host but no port";
    }
  } else {
    const std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string_view::npos) {
      port = authority.substr(colon + 1);
      if (port.empty()) return "a mirror address has ':' after its host but no port";
    }
    if (host.empty()) return "a mirror address needs a host after " + std::string(text.substr(0, start));
    if (!std::all_of(host.begin(), host.end(), HostCharacter))
      return "the host of a mirror address is a name of letters, digits, '-' and '.', or an IPv6 address in [ ]";
  }
  if (!port.empty()) {
    long number = 0;
    for (char c : port) {
      if (c < '0' || c > '9' || number > 65535) return "the port of a mirror address is a number from 1 to 65535";
      number = number * 10 + (c - '0');
    }
    if (number < 1 || number > 65535) return "the port of a mirror address is a number from 1 to 65535";
  }
  return {};
}

std::string WithoutCredentials(std::string_view url) {
  const std::size_t start = AuthorityStart(url);
  if (start == std::string_view::npos) return std::string(url);
  const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
  const std::size_t at = url.substr(start, end - start).rfind('@');
  if (at == std::string_view::npos) return std::string(url);
  return std::string(url.substr(0, start)) + std::string(url.substr(start + at + 1));
}

}  // namespace quillet::protocol
