#include "services/serve/Query.h"

#include <algorithm>

#include "services/text/Strings.h"

namespace quillet::services {

std::map<std::string, std::string> ParseQuery(std::string_view rawQuery, const std::vector<std::string_view>& keys,
                                              bool plusIsSpace) {
  std::map<std::string, std::string> result;
  std::string currentKey;
  std::string currentRaw;
  bool haveKey = false;
  auto flush = [&] {
    if (haveKey) result.emplace(currentKey, PercentDecode(currentRaw, plusIsSpace));
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

bool ParseQuotedSearch(std::string_view rawQuery, const std::vector<std::string_view>& keys,
                       std::map<std::string, std::string>* params) {
  constexpr std::string_view kOpen = "p=%22", kClose = "%22";
  if (rawQuery.substr(0, kOpen.size()) != kOpen) return false;
  auto closes = [&](std::size_t at) {
    std::string_view rest = rawQuery.substr(at + kClose.size());
    if (rest.empty()) return true;
    for (std::string_view key : keys)
      if (rest.size() > key.size() + 1 && rest[0] == '&' && rest.substr(1, key.size()) == key &&
          rest[key.size() + 1] == '=')
        return true;
    return false;
  };
  for (std::size_t at = rawQuery.rfind(kClose); at != std::string_view::npos && at >= kOpen.size();
       at = at == 0 ? std::string_view::npos : rawQuery.rfind(kClose, at - 1)) {
    if (!closes(at)) continue;
    *params = ParseQuery(rawQuery.substr(at + kClose.size()), keys);
    (*params)["p"] = "\"" + PercentDecode(rawQuery.substr(kOpen.size(), at - kOpen.size())) + "\"";
    return true;
  }
  return false;
}

}  // namespace quillet::services
