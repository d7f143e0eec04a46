#include "research/IdeaList.h"

#include <unordered_set>

namespace quillet {

std::vector<IdeaEntry> IdeasToAdd(const std::vector<std::vector<std::string>>& tickedRows,
                                  const std::vector<std::string>& existingCategories) {
  std::unordered_set<std::string> known(existingCategories.begin(), existingCategories.end());
  std::vector<IdeaEntry> added;
  for (const auto& row : tickedRows) {
    if (row.empty() || row[0].empty()) continue;
    if (!known.insert(row[0]).second) continue;
    const std::size_t profit = kProfitabilityColumn;
    added.push_back({row[0], row.size() > profit ? row[profit] : std::string()});
  }
  return added;
}

std::string IdeaSectionName(std::size_t position) { return "item" + std::to_string(position); }

bool IsSavedLayout(const std::vector<std::string>& sectionNames) {
  for (std::size_t k = 0; k < sectionNames.size(); ++k)
    if (sectionNames[k] != IdeaSectionName(k)) return false;
  return true;
}

namespace {

// Characters the platform's reading may drop from either end of a value.
bool Trimmable(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 0x20 || u == 0x7F || u == 0xA0;
}

bool WrappedInQuotes(const std::string& v) {
  return v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
}

}  // namespace

std::string IniValueText(const std::string& value) {
  std::string text = value;
  for (char& c : text)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  if (!text.empty() && (Trimmable(text.front()) || Trimmable(text.back()) || WrappedInQuotes(text)))
    return '"' + text + '"';
  return text;
}

std::string IdeaListText(const std::vector<IdeaEntry>& entries) {
  std::string out;
  std::size_t size = 0;
  for (const auto& e : entries) size += e.category.size() + e.profitability.size() + 40;
  out.reserve(size);
  for (std::size_t k = 0; k < entries.size(); ++k) {
    out += '[';
    out += IdeaSectionName(k);
    out += "]\r\ncat=";
    out += IniValueText(entries[k].category);
    out += "\r\nprofit=";
    out += IniValueText(entries[k].profitability);
    out += "\r\n";
  }
  return out;
}

}  // namespace quillet
