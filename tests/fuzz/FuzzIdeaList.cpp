// Whatever the categories hold, a saved idea list has exactly three lines per entry: the
// section header, "cat=" and "profit=", so no value can start a section of its own.
#include <string>

#include "research/IdeaList.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  const auto p = fuzz::Parts(data, size, 4);
  const std::vector<IdeaEntry> entries{{p[0], p[1]}, {p[2], p[3]}};
  const std::string text = IdeaListText(entries);
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", from)) {
    lines.push_back(text.substr(from, at - from));
    from = at + 2;
  }
  if (from != text.size() || lines.size() != 6) __builtin_trap();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const char* prefix = i % 3 == 0 ? "[item" : (i % 3 == 1 ? "cat=" : "profit=");
    if (lines[i].rfind(prefix, 0) != 0) __builtin_trap();
    if (lines[i].find_first_of(std::string("\r\n\0", 3)) != std::string::npos) __builtin_trap();
  }
  return 0;
}
