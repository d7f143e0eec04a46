// quillet-research's writers on arbitrary cells: a CSV record reads back as its cells, each
// valid UTF-8 without NUL and with a "'" before exactly the cells a spreadsheet would run; a
// JSON Lines record reads back as its texts; both are valid UTF-8 on a line of their own.
// The first byte chooses the separator and the kinds of the columns.
#include <string>
#include <string_view>
#include <vector>

#include "cli/Output.h"
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

// The texts of the string values of a one-line JSON object; false when it is not one.
bool ReadJsonValues(std::string_view text, std::vector<std::string>& values) {
  if (text.size() < 3 || text.front() != '{' || text.substr(text.size() - 2) != "}\n") return false;
  values.clear();
  std::size_t i = 1;
  auto readString = [&](std::string& out) {
    if (text[i++] != '"') return false;
    for (; text[i] != '"'; ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c < 0x20) return false;
      if (c != '\\') {
        out += text[i];
        continue;
      }
      const char e = text[++i];
      if (e == 'u') {
        if (text.substr(i + 1, 2) != "00") return false;
        out += static_cast<char>(std::stoi(std::string(text.substr(i + 3, 2)), nullptr, 16));
        i += 4;
      } else {
        const std::string_view from = "\"\\nrt", to = "\"\\\n\r\t";
        if (from.find(e) == std::string_view::npos) return false;
        out += to[from.find(e)];
      }
    }
    ++i;
    return true;
  };
  while (i < text.size() - 2) {
    std::string name, value;
    if (!readString(name) || text[i++] != ':' || !readString(value)) return false;
    values.push_back(std::move(value));
    if (text[i] == ',') ++i;
  }
  return i == text.size() - 2;
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

  const std::string json = cli::JsonRecord({"a", "b", "c", "d"}, cells);
  std::vector<std::string> values;
  if (!services::Utf8Problem(json).empty() || json.find('\n') != json.size() - 1 || !ReadJsonValues(json, values) ||
      values.size() != kCells)
    __builtin_trap();
  for (std::size_t i = 0; i < kCells; ++i)
    if (values[i] != (services::Utf8Problem(cells[i]).empty() ? cells[i] : cli::RepairedUtf8(cells[i])))
      __builtin_trap();
  return 0;
}
