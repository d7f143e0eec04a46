#pragma once
// The platform's file-open and file-save dialogs with the settings the program gives them.
#include <windows.h>

#include <string>
#include <vector>

namespace quillet::win {

class FileDialog {
 public:
  // "Description|pattern" pairs joined by '|', as in "Quillet files (*.qlc)|*.qlc".
  std::string filter;
  std::string defaultExt;
  std::string initialDir;
  int filterIndex = 0;
  // OFN_* flags added to the dialog's own.
  DWORD options = 0;
  std::string fileName;  // the chosen file after Execute returned true
  // With OFN_ALLOWMULTISELECT in options: every file chosen, as full paths.
  std::vector<std::string> fileNames;

  // Shows the dialog owned by `owner`; true when the user confirmed a file name.
  bool ExecuteOpen(HWND owner);
  bool ExecuteSave(HWND owner);

 private:
  bool Execute(HWND owner, bool save);
};

}  // namespace quillet::win
