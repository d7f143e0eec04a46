// Program entry: one copy per desktop, three windows created in a fixed order, then the
// message loop until the main window closes.
#include <windows.h>
#include <commctrl.h>

#include "app/Config.h"
#include "app/InfoForm.h"
#include "app/MainForm.h"
#include "app/StartForm.h"
#include "app/Startup.h"
#include "framework/Application.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  quillet::win::Application app(instance);
  app.SetTitle(quillet::kApplicationTitle);
  if (quillet::AlreadyRunning(app)) return 0;
  quillet::TForm1 form1(quillet::ServiceHostsFromEnvironment());
  quillet::TStartForm startForm;
  quillet::TInfoForm infoForm;
  form1.SetDialogs(&startForm, &infoForm);
  form1.Show();
  app.Run();
  return 0;
}
