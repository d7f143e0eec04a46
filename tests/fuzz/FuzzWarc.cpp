// The WARC record reader over arbitrary bytes: records come in order, each block within the
// bytes kept, and reading always ends.
#include <string>

#include "services/import/Warc.h"
#include "tests/fuzz/FuzzStore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  if (size == 0) return 0;
  constexpr std::size_t kKeep = 64;
  // The first byte picks the records wanted.
  const char* wanted = data[0] % 3 == 0 ? "conversion" : data[0] % 3 == 1 ? "metadata" : "response";
  services::InputFile input = fuzz::Input(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  services::ImportReport report;
  const services::ImportProgress progress;  // the records keep a reference to it
  fuzz::CheckingStore store;
  services::WarcRecords records(input, store, wanted, kKeep, report, progress);
  services::WarcRecord record;
  std::int64_t last = 0;
  while (records.Next(&record)) {
    if (record.number <= last || record.block.size() > kKeep || record.length < 0 || record.type != wanted)
      __builtin_trap();
    if (static_cast<std::int64_t>(record.block.size()) > record.length) __builtin_trap();
    last = record.number;
  }
  records.Finish();
  return 0;
}
