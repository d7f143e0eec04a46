// The input layer's gzip reading: the fuzzer's bytes deflated into one or two members must
// read back as the same bytes read plain (valid deflate of every shape of content), and the
// bytes themselves, taken as a compressed file, must read without fault.
#include <zlib.h>

#include <string>

#include "tests/fuzz/FuzzStore.h"
#include "tests/services/support/Gzip.h"

namespace {

using quillet::services::testing::Gzip;

std::string ReadAll(const std::string& file, std::string* damage) {
  quillet::services::InputFile input = quillet::fuzz::Input(file);
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = input.Read(buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  *damage = input.Damage();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string damage;
  try {
    ReadAll(bytes, &damage);  // raw: damaged, cut short or not gzip at all
  } catch (const quillet::services::InputError&) {
  }
  // Plain text that starts like gzip would be read as gzip: not a round trip.
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F && static_cast<unsigned char>(bytes[1]) == 0x8B)
    return 0;
  std::string plain = ReadAll(bytes, &damage);
  std::size_t split = bytes.empty() ? 0 : data[0] % (bytes.size() + 1);
  int level = data[0] % 10;
  std::string packed =
      data[0] & 0x80 ? Gzip(bytes.substr(0, split), level) + Gzip(bytes.substr(split), level) : Gzip(bytes, level);
  std::string unpacked = ReadAll(packed, &damage);
  if (unpacked != plain || !damage.empty()) __builtin_trap();
  return 0;
}
