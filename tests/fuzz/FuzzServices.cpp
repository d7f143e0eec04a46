// The local data service's readers of requests and import files on arbitrary bytes.
#include <string>

#include "services/Import.h"
#include "services/JsonLine.h"
#include "services/Query.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  services::ParseQuery(bytes, {"p", "n", "b", "term", "url"});
  services::DecodeQueryValue(bytes);
  services::NormalizeHost(bytes);
  services::SplitWords(bytes);
  services::SplitFields(bytes, ',');
  services::SplitFields(bytes, '\t');
  services::PageRecord record;
  std::string error;
  services::ParsePageRecord(bytes, &record, &error);
  try {
    services::ToUtf8(bytes);
  } catch (const std::runtime_error&) {
    // broken UTF-16 is reported, not crashed on
  }
  return 0;
}
