// The local data service's readers of requests and import files on arbitrary bytes.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "services/import/Input.h"
#include "services/import/Json.h"
#include "services/import/ReaderKit.h"
#include "services/serve/Query.h"
#include "services/text/Hosts.h"
#include "services/text/Keys.h"
#include "services/text/Strings.h"
#include "services/text/Utf8.h"
#include "services/text/Words.h"

namespace {

// The input layer reads files: the bytes go through one scratch file per fuzzer process.
void ReadAsFile(const std::string& bytes) {
  static const std::string path = "/tmp/quillet-fuzz-input-" + std::to_string(getpid());
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  quillet::services::InputFile input(path);
  quillet::services::LineReader lines(input, 64);
  std::string_view line;
  std::string block;
  while (lines.Next(&line) != quillet::services::LineReader::Result::End) {
    // A block that stops at a line starting a record never runs past the bytes asked for.
    block.clear();
    if (lines.ReadBlock(line.size() % 40, &block, 8, "WARC/1.") > line.size() % 40 || block.size() > 8)
      __builtin_trap();
  }
  std::remove(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  services::ParseQuery(bytes, {"p", "n", "b", "term", "url"});
  services::PercentDecode(bytes);
  services::NormalizeHost(bytes);
  services::BlankSeparated(bytes);
  services::SplitFields(bytes, ',');
  services::SplitFields(bytes, '\t', 3);
  services::PageRecord record;
  std::string error;
  services::ParsePageRecord(bytes, &record, &error, 4);
  services::PickJson(
      bytes, {{"a", "b"}, {"a", "[]", "c"}, {"[]"}},
      [](std::size_t path, std::size_t, const std::string*) {
        if (path > 2) __builtin_trap();
      },
      &error);
  // Whatever repair makes of the bytes passes the checks that keys must pass.
  std::string repaired = services::RepairText(bytes);
  if (!services::KeyProblem(repaired).empty()) __builtin_trap();
  std::size_t last = 0;
  services::ForEachWord(bytes, [&](std::string_view word, std::size_t begin, std::size_t end) {
    // Words come in order, each a non-empty stretch of the text.
    if (word.empty() || begin < last || end <= begin || end > bytes.size()) __builtin_trap();
    last = end;
  });
  services::NormalizeTerm(bytes, &error);
  services::ValidHost(bytes);
  ReadAsFile(bytes);
  return 0;
}
