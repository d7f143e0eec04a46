// The headers `get` believes: Content-Length and Content-Range read from any text give a size
// and a range that hold together, or none; Retry-After gives no negative wait but "none".
#include <chrono>
#include <string>

#include "services/get/Decide.h"
#include "services/get/Http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet::services;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (ParseContentLength(text) < -1) __builtin_trap();
  HttpHead head;
  ParseContentRange(text, &head);
  if (head.rangeStart < -1 || head.rangeWhole < -1) __builtin_trap();
  if (head.rangeStart < 0 && head.rangeWhole >= 0) __builtin_trap();
  if (head.rangeWhole >= 0 && head.rangeStart >= head.rangeWhole) __builtin_trap();
  if (RetryAfter(text, std::chrono::system_clock::time_point(std::chrono::seconds(1700000000))).count() < -1)
    __builtin_trap();
  return 0;
}
