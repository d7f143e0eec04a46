#include "framework/FileDialog.h"

#include <commdlg.h>

#include <cstring>
#include <vector>

namespace quillet::win {

bool FileDialog::ExecuteOpen(HWND owner) { return Execute(owner, false); }
bool FileDialog::ExecuteSave(HWND owner) { return Execute(owner, true); }

bool FileDialog::Execute(HWND owner, bool save) {
  // The API wants the filter's parts separated by NULs and ended by two.
  std::string filterZ = filter;
  for (char& c : filterZ)
    if (c == '|') c = '\0';
  filterZ.append(2, '\0');
  std::vector<char> name(32768, '\0');
  fileName.copy(name.data(), name.size() - 1);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filterZ.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(filterIndex);
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = static_cast<DWORD>(name.size());
  ofn.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
  ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING | options;
  const BOOL ok = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
  if (!ok) return false;
  fileName = name.data();
  // Several files come as the folder, then each name, NUL after each, an empty one last.
  fileNames.clear();
  if (options & OFN_ALLOWMULTISELECT) {
    const std::string folder = fileName.back() == '\\' ? fileName : fileName + "\\";
    for (const char* next = name.data() + fileName.size() + 1; *next; next += std::strlen(next) + 1)
      fileNames.push_back(folder + next);
    // One file comes as its full path alone.
    if (fileNames.empty()) fileNames.push_back(fileName);
  }
  return true;
}

}  // namespace quillet::win
