// Any bytes read as an idea list file end in entries, and a saved list reads back as it was
// saved (line breaks and NULs as blanks), whatever its texts hold.
#include <string>

#include "research/IdeaList.h"
#include "research/IniProfile.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  ReadIdeaList(IniProfile(std::string(reinterpret_cast<const char*>(data), size)), [](IdeaEntry&&) {});

  const auto p = fuzz::Parts(data, size, 4);
  std::vector<IdeaEntry> saved{{p[0], p[1]}, {p[2], p[3]}};
  std::vector<IdeaEntry> read;
  ReadIdeaList(IniProfile(IdeaListText(saved)), [&](IdeaEntry&& e) { read.push_back(std::move(e)); });
  for (IdeaEntry& e : saved)
    for (std::string* text : {&e.category, &e.profitability}) {
      if (text->size() > 2046) return 0;  // past what the value buffer gives back whole
      for (char& c : *text)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    }
  if (read != saved) __builtin_trap();
  return 0;
}
