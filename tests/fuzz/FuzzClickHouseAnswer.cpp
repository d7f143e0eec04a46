// ClickHouse answers as they arrive, in pieces of any size: the reader never holds more than
// its cap, and a whole answer's rows survive a round trip through the TabSeparated escaping.
#include <string>

#include "services/store/clickhouse/Http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet::services;
  if (size == 0) return 0;
  constexpr std::size_t kCap = 4096;
  const std::size_t piece = 1 + data[0] % 64;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  AnswerReader answer(kCap);
  bool done = false;
  try {
    for (std::size_t at = 0; at < bytes.size() && !done; at += piece) done = answer.Feed(bytes.substr(at, piece));
    if (!done) done = answer.End();
  } catch (const ClickHouseError&) {
    return 0;
  }
  if (answer.Body().size() > kCap) __builtin_trap();
  if (!done || answer.Status() != 200) return 0;
  auto rows = ParseTsv(answer.Body());
  std::string again;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) again += '\t';
      AppendTsvField(again, row[i]);
    }
    again += '\n';
  }
  if (ParseTsv(again) != rows) __builtin_trap();
  return 0;
}
