#include "research/Services.h"

#include <cstdlib>

namespace quillet {

ServiceHosts ServiceHostsAt(const std::string& hostAndPort) {
  const std::string base = "http://" + hostAndPort;
  return ServiceHosts{base, base, base};
}

ServiceHosts ServiceHostsFromEnvironment() {
  const char* value = std::getenv(kServiceHostVariable);
  return ServiceHostsAt(value && *value ? value : kDefaultServiceHost);
}

}  // namespace quillet
