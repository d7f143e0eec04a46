// quillet-data: the Quillet Data window, beside quillet-services.exe in the program folder.
//   quillet-data.exe [--db FILE] [--mirror URL]
// --db: a research database other than the data service's own; --mirror: offered for getting
// open data (a company's copy of the publishers' files), as a Start menu shortcut may say.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>

#include "datawindow/DataForm.h"
#include "framework/Application.h"

namespace {

std::string ProgramFolder() {
  char path[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string file(path, n);
  return file.substr(0, file.find_last_of('\\') + 1);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  quillet::win::Application app(instance);
  app.SetTitle(quillet::data::TDataForm::kTitle);
  quillet::data::DataSettings settings;
  const std::string folder = ProgramFolder();
  settings.programs.services = folder + "quillet-services.exe";
  settings.programs.starter = folder + "quillet-services-start.exe";
  for (int i = 1; i + 1 < __argc; i += 2) {
    const std::string option = __argv[i];
    if (option == "--db") settings.programs.database = __argv[i + 1];
    else if (option == "--mirror") settings.mirror = __argv[i + 1];
  }
  quillet::data::TDataForm form(settings);
  form.Show();
  app.Run();
  return 0;
}
