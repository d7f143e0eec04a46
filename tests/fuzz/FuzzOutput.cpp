// quillet-research's writers on arbitrary cells: a CSV record reads back as its cells, each
// valid UTF-8 without NUL and with a "'" before exactly the cells a spreadsheet would run; a
// JSON Lines record is one line that the service's JSON reader takes back as its texts.
// The first byte chooses the separator and the kinds of the columns.
#include <string>
#include <string_view>
#include <vector>

#include "cli/Output.h"
#include "services/import/Json.h"
#include "services/text/Utf8.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using quillet::cli::Column;

constexpr std::size_t kCells = 4;

bool StartsFormula(std::string_view text) {
  return !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
}

// The fields of one RFC 4180 record that ends with CR LF; false when the text is not one.
bool ReadCsvRecord(std::string_view text, char separator, std::vector<std::string>& fields) {
  if (text.size() < 2 || text.substr(text.size() - 2) != "\r\n") return false;
  const std::string_view body = text.substr(0, text.size() - 2);
  fields.clear();
  for (std::size_t i = 0;;) {
    std::string field;
    if (i < body.size() && body[i] == '"') {
      for (++i;; ++i) {
        if (i == body.size()) return false;
        if (body[i] == '"' && (i + 1 == body.size() || body[i + 1] != '"')) break;
        if (body[i] == '"') ++i;
        field += body[i];
      }
      ++i;
    } else {
      for (; i < body.size() && body[i] != separator; ++i) {
        if (body[i] == '"' || body[i] == '\r' || body[i] == '\n') return false;
        field += body[i];
      }
    }
    fields.push_back(std::move(field));
    if (i == body.size()) return true;
    if (body[i] != separator) return false;
    ++i;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  if (size == 0) return 0;
  const std::uint8_t choice = data[0];
  const std::vector<std::string> cells = fuzz::Parts(data + 1, size - 1, kCells);
  const char separator = (choice & 1) ? ';' : ',';
  std::vector<Column> kinds;
  for (std::size_t i = 0; i < kCells; ++i) kinds.push_back((choice >> (i + 1)) & 1 ? Column::kCount : Column::kText);

  const std::string csv = cli::CsvRecord(cells, separator, kinds);
  std::vector<std::string> fields;
  if (!services::Utf8Problem(csv).empty() || csv.find('\0') != std::string::npos ||
      !ReadCsvRecord(csv, separator, fields) || fields.size() != kCells)
    __builtin_trap();
  for (std::size_t i = 0; i < kCells; ++i) {
    std::string_view field = fields[i];
    const bool quoted = !field.empty() && field[0] == '\'' && !(cells[i].size() > 0 && cells[i][0] == '\'');
    if (quoted) {
      field.remove_prefix(1);
      if (!StartsFormula(field)) __builtin_trap();
    }
    if (kinds[i] == Column::kText && StartsFormula(field) && !quoted) __builtin_trap();
    if (kinds[i] == Column::kCount && StartsFormula(field) && !quoted &&
        field.substr(1).find_first_not_of("0123456789.,") != std::string_view::npos)
      __builtin_trap();
    // Text that was valid UTF-8 without a NUL comes back as it was.
    if (services::Utf8Problem(cells[i]).empty() && cells[i].find('\0') == std::string::npos && field != cells[i])
      __builtin_trap();
  }

  // The service's own strict reader of JSON Lines takes the line back.
  const std::string json = cli::JsonRecord({"url", "title", "text", "other"}, cells);
  services::PageRecord record;
  std::string error;
  if (!services::Utf8Problem(json).empty() || json.find('\n') != json.size() - 1 ||
      !services::ParsePageRecord(std::string_view(json).substr(0, json.size() - 1), &record, &error))
    __builtin_trap();
  const std::string* read[] = {&record.url, &record.title, &record.text};
  for (std::size_t i = 0; i < 3; ++i)
    if (*read[i] != (services::Utf8Problem(cells[i]).empty() ? cells[i] : cli::RepairedUtf8(cells[i])))
      __builtin_trap();
  return 0;
}
