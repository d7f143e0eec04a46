#pragma once
// The Idea Catcher's entries and the idea list file layout: which ticked result rows are
// added, the exact bytes a saved list consists of, and how a file is read. Reading goes
// through the platform's INI profile functions (framework/IniFile.h), or where they are not at
// hand through IniProfile (research/IniProfile.h), which follows their rules; the writing side
// only has to write what they read back unchanged.
#include <cstdint>
#include <string>
#include <vector>

namespace quillet {

struct IdeaEntry {
  std::string category;
  std::string profitability;
  bool operator==(const IdeaEntry&) const = default;
};

// Column of the category result list that holds the Profitability text (after Demand and
// Supply).
inline constexpr int kProfitabilityColumn = 3;

// The entries to append for the ticked result rows, given in display order as caption then
// sub-items. A row with an empty caption is skipped, and so is one whose caption equals an
// existing category or that of an entry added earlier in the same call. A row that a run
// has not filled up to the Profitability yet gives an empty Profitability.
std::vector<IdeaEntry> IdeasToAdd(const std::vector<std::vector<std::string>>& tickedRows,
                                  const std::vector<std::string>& existingCategories);

// "item" followed by the position in decimal.
std::string IdeaSectionName(std::size_t position);

// Whether the section names are exactly item0, item1, ... in this order, the layout that
// IdeaListText writes.
bool IsSavedLayout(const std::vector<std::string>& sectionNames);

// The text written after "key=" so that the platform's reading gives back `value`. The
// reading drops blanks around a value and one pair of matching quotes, so a value that
// starts or ends with a blank, a control character or a no-break space, or that is wrapped
// in a matching pair of quotes, is written inside double quotes. A line break cannot be
// stored in a line-based file: each CR, LF or NUL is written as a blank. Read back through the
// 2,048-byte value buffer, a value that needed quotes comes back whole up to 2,046
// characters; at 2,047 the platform's reading loses its last character.
std::string IniValueText(const std::string& value);

// The whole file: sections item0 .. item(n-1), each with "cat" and "profit", CR LF line
// ends, nothing else (an empty list gives an empty file).
std::string IdeaListText(const std::vector<IdeaEntry>& entries);

// Reading a file: the number of entries is the number of section names that fit a list of
// kSectionNamesBuffer bytes; each value is read through kIdeaValueBuffer bytes.
inline constexpr std::uint32_t kSectionNamesBuffer = 16384;
inline constexpr std::uint32_t kIdeaValueBuffer = 2048;
// Room for the names of a saved list of about 14,000 entries.
inline constexpr std::uint32_t kSavedListNamesBuffer = 1 << 17;

// The number of entries of an idea list file. A list saved with more entries than the 16 KB
// name list holds (about 1,900) would otherwise come back cut short, so when the names that
// fit are exactly item0, item1, ... the longer list is read. Files of any other shape keep the
// 16 KB count, which also bounds the lookups a hostile file can cost. Profile is
// win::IniFile or IniProfile.
template <typename Profile>
std::size_t IdeaEntryCount(const Profile& file) {
  bool truncated = false;
  const std::vector<std::string> names = file.SectionNames(kSectionNamesBuffer, &truncated);
  if (truncated && IsSavedLayout(names)) {
    const std::vector<std::string> more = file.SectionNames(kSavedListNamesBuffer);
    if (IsSavedLayout(more)) return more.size();
  }
  return names.size();
}

// Hands append the entries of an idea list file in order: "cat" and "profit" of the sections
// item0 .. item(n-1), n being IdeaEntryCount. A missing section or key gives empty text.
template <typename Profile, typename Append>
void ReadIdeaList(const Profile& file, Append&& append) {
  const std::size_t count = IdeaEntryCount(file);
  for (std::size_t k = 0; k < count; ++k) {
    const std::string section = IdeaSectionName(k);
    append(IdeaEntry{file.ReadString(section, "cat", "", kIdeaValueBuffer),
                     file.ReadString(section, "profit", "", kIdeaValueBuffer)});
  }
}

}  // namespace quillet
