#pragma once
#include "framework/Application.h"

namespace quillet {

// True when another copy of the program is running: a top-level window of the application
// window's class whose text is the application title. This process's own application
// window carries the empty title during the search; the title is restored in every case.
bool AlreadyRunning(win::Application& app);

}  // namespace quillet
