// One import reader (QUILLET_FUZZ_KIND) over arbitrary file bytes, plain or gzip: whatever the
// file holds, the reader ends, and every record it stores keeps the store's contract (terms
// normalised, hosts valid, counts and ranks in range, pages with a usable http address).
#include <string>

#include "services/import/Importers.h"
#include "tests/fuzz/FuzzStore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  static const services::Importer* importer = services::FindImporter(QUILLET_FUZZ_KIND);
  if (!importer) __builtin_trap();
  fuzz::CheckingStore store;
  services::InputFile input = fuzz::Input(std::string(reinterpret_cast<const char*>(data), size));
  try {
    services::ImportReport report = importer->read(store, input, services::ImportSettings(), nullptr);
    if (report.added + report.replaced + report.updated + report.summed > report.lines) __builtin_trap();
  } catch (const services::InputError&) {
    // A file that cannot be read at all is reported as such.
  }
  return 0;
}
