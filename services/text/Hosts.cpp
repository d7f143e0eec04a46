#include "services/text/Hosts.h"

#include "services/text/Keys.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

bool IsNameByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c >= 0x80 || c == '-' ||
         c == '_' || c == '.';
}

}  // namespace

std::string NormalizeHost(std::string_view address) {
  std::string host = FoldCase(address);
  // A scheme only before the path: "a.com/?u=http://b.com" is a.com, not b.com.
  size_t scheme = host.find("://");
  if (scheme != std::string::npos && scheme < host.find_first_of("/?#")) host.erase(0, scheme + 3);
  size_t end = host.find_first_of("/?#");
  if (end != std::string::npos) host.erase(end);
  size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  size_t colon = host.find(':');
  if (colon != std::string::npos) host.erase(colon);
  while (!host.empty() && host.back() == '.') host.pop_back();
  // Every leading "www.": a folded name folds to itself, so a stored key is found again.
  while (host.rfind("www.", 0) == 0) host.erase(0, 4);
  return host;
}

std::string ValidHost(std::string_view address) {
  if (!KeyProblem(address).empty()) return {};
  std::string host = NormalizeHost(address);
  if (host.empty() || host.size() > 253 || host.front() == '.' || host.find('.') == std::string::npos ||
      host.find("..") != std::string::npos)
    return {};
  for (char c : host)
    if (!IsNameByte(static_cast<unsigned char>(c))) return {};
  return host;
}

}  // namespace quillet::services
