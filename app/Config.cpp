#include "app/Config.h"

#include <cstdlib>

namespace quillet {

ServiceHosts ServiceHostsFromEnvironment() {
  const char* value = std::getenv(kServiceHostVariable);
  const std::string base = std::string("http://") + (value && *value ? value : kDefaultServiceHost);
  return ServiceHosts{base, base, base};
}

}  // namespace quillet
