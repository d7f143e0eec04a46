#include "research/SearchSettings.h"

#include <algorithm>

namespace quillet {

std::int32_t BoundResults(std::int64_t results) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(results, kMinResults, kMaxResults));
}

}  // namespace quillet
