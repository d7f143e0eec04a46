#pragma once
// An INI file read by the rules of the Windows profile functions (GetPrivateProfileStringA and
// GetPrivateProfileSectionNamesA), for where those functions are not at hand. It answers the
// same two calls as win::IniFile, so that code written against either reads a file alike:
// - lines end at CR or LF; blanks (tab to CR, 0x1A and the space, not the no-break space) are
//   dropped around lines, section names, key names and values;
// - "[name]" starts a section, the name running to the line's last ']' (a line without ']'
//   is a key line); keys before the first section belong to a section without a name;
// - "key=value" on the other lines; a line without '=' is a key without a value;
// - names match without regard to ASCII letter case, the first section of a name and its
//   first key of a name count; an inline ';' is part of the value;
// - a value in a pair of matching single or double quotes loses them;
// - a NUL ends the name or value it is in.
// Text is 8-bit, as the program's files are written. A file that starts with a UTF-8 or
// UTF-16 byte order mark is read as UTF-8 (UTF-16 is turned into it); the platform gives
// such text in the system's code page instead.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillet {

class IniProfile {
 public:
  // The file's whole text, read now. A missing or unreadable file reads as an empty one.
  // *readable, when given, tells which it was.
  static IniProfile FromFile(const std::string& path, bool* readable = nullptr);
  explicit IniProfile(std::string_view text);

  // The names of the sections, in file order, that fit wholly into a list of bufferSize
  // bytes (each takes its length plus one, and the list one more). *truncated, when given,
  // tells whether the list filled the buffer, as win::IniFile reports it.
  std::vector<std::string> SectionNames(std::size_t bufferSize, bool* truncated = nullptr) const;

  // The value of key in section, at most bufferSize - 1 bytes; fallback (without trailing
  // blanks, and read like a value) when the section, the key or its '=' is missing.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                         std::size_t bufferSize) const;

 private:
  struct Key {
    std::string name;
    std::string value;
    bool hasValue = false;
  };
  struct Section {
    std::string name;
    std::vector<Key> keys;
  };

  std::vector<Section> sections_;                             // the first one holds the keys above every section line
  std::unordered_map<std::string, std::size_t> firstByName_;  // lower-case name -> its first section
};

}  // namespace quillet
