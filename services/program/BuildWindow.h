#pragma once
// The first start of the hidden starter (Windows): building the demo data set takes a minute
// or two with nothing else on screen, so a small window says what is being built, how long it
// takes and how far it is, until the build has ended. The build's output goes to the log, one
// line per step.
#include <windows.h>

#include <string>

namespace quillet::services {

// Runs `program arguments` without a console window, appending each line of its standard
// output and error to log (CR LF ends) while the window shows the build's progress. Returns
// the program's exit code, or 1 when it could not be started. Closing the window hides it;
// the build goes on.
DWORD RunShowingBuildWindow(const std::wstring& program, const std::wstring& arguments, HANDLE log);

}  // namespace quillet::services
