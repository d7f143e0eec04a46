#include "app/Startup.h"

namespace quillet {

bool AlreadyRunning(win::Application& app) {
  const std::string title = app.Title();
  app.SetTitle("");
  bool found = false;
  char className[256] = {};
  if (GetClassNameA(app.Handle(), className, 255) > 0) found = FindWindowA(className, title.c_str()) != nullptr;
  app.SetTitle(title);
  return found;
}

}  // namespace quillet
