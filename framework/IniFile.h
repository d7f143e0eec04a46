#pragma once
// Reading an INI file through the platform's profile functions, so that names match without
// regard to case and values lose surrounding blanks and one pair of quotes exactly as the
// platform does it. Path based: nothing is held open between calls.
#include <windows.h>

#include <string>
#include <vector>

namespace quillet::win {

class IniFile {
 public:
  // A relative path is made absolute against the current directory first (the profile
  // functions would otherwise look for a bare name in the Windows directory).
  explicit IniFile(const std::string& path);

  const std::string& Path() const { return path_; }

  // The section names that fit wholly into a buffer of bufferSize bytes (each takes its
  // length plus one); none for a missing or unreadable file. *truncated, when given, tells
  // whether names were left out.
  std::vector<std::string> SectionNames(DWORD bufferSize, bool* truncated = nullptr) const;

  // The value of key in section, read through a buffer of bufferSize bytes (so at most
  // bufferSize - 1 characters); fallback when the section or key is missing.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                         DWORD bufferSize) const;

 private:
  std::string path_;
};

}  // namespace quillet::win
