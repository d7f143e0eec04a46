#include "framework/IniFile.h"

namespace quillet::win {

IniFile::IniFile(const std::string& path) : path_(path) {
  if (path.empty()) return;
  const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return;
  std::string full(needed, '\0');
  const DWORD length = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
  if (length > 0 && length < needed) {
    full.resize(length);
    path_ = std::move(full);
  }
}

std::vector<std::string> IniFile::SectionNames(DWORD bufferSize, bool* truncated) const {
  std::vector<std::string> names;
  if (truncated) *truncated = false;
  if (bufferSize < 3 || path_.empty()) return names;
  // Zeroed first: on truncation some implementations end the list with one NUL, not two.
  std::vector<char> buffer(bufferSize, '\0');
  const DWORD returned = GetPrivateProfileSectionNamesA(buffer.data(), bufferSize, path_.c_str());
  buffer.back() = '\0';
  const DWORD used = returned < bufferSize ? returned : bufferSize - 1;
  for (DWORD pos = 0; pos < used && buffer[pos] != '\0';) {
    std::string name(buffer.data() + pos);
    pos += static_cast<DWORD>(name.size()) + 1;
    names.push_back(std::move(name));
  }
  // A return of bufferSize - 2 says the list was cut; when a name runs up to that point it
  // is a fragment (a list that merely fills the buffer ends in two NULs there).
  if (returned == bufferSize - 2) {
    if (truncated) *truncated = true;
    if (buffer[bufferSize - 3] != '\0' && !names.empty()) names.pop_back();
  }
  return names;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                                DWORD bufferSize) const {
  if (bufferSize == 0 || path_.empty()) return fallback;
  std::vector<char> buffer(bufferSize, '\0');
  const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer.data(),
                                                bufferSize, path_.c_str());
  return std::string(buffer.data(), length < bufferSize ? length : bufferSize - 1);
}

}  // namespace quillet::win
