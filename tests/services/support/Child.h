#pragma once
// The real quillet-services program run as a child process (tests/support/ChildProcess.h).
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace quillet::services::testing {

using test::ReadFile;
using test::ResidentMb;

class Child : public test::ChildProcess {
 public:
  Child(const std::vector<std::string>& args, const Options& options)
      : ChildProcess(QUILLET_SERVICES_EXE, args, options) {}
};

}  // namespace quillet::services::testing
