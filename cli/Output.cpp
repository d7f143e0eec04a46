#include "cli/Output.h"

#include <cerrno>

#include "cli/Console.h"

namespace quillet::cli {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence that starts text, 0 when there is none.
std::size_t Utf8Length(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || at(1) < low || at(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  return length;
}

// Whether a spreadsheet would take the cell for a formula.
bool StartsFormula(std::string_view cell) {
  return !cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string_view::npos;
}

// A count as the program writes it, or the placeholder "-".
bool IsCount(std::string_view cell) {
  if (!cell.empty() && (cell[0] == '+' || cell[0] == '-')) cell.remove_prefix(1);
  return cell.find_first_not_of("0123456789.,") == std::string_view::npos;
}

}  // namespace

std::string RepairedUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = c < 0x80 ? 1 : Utf8Length(bytes.substr(i));
    if (length > 0) {
      out.append(bytes.substr(i, length));
      i += length;
      continue;
    }
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
    ++i;
  }
  return out;
}

std::string CsvRecord(const std::vector<std::string>& fields, char separator, const std::vector<Column>& kinds) {
  std::string out;
  const char special[] = {separator, '"', '\r', '\n'};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += separator;
    std::string field = RepairedUtf8(fields[i]);
    // Many readers take a NUL for the end of the text.
    for (std::size_t at = field.find('\0'); at != std::string::npos; at = field.find('\0', at))
      field.replace(at, 1, kReplacementCharacter);
    const Column kind = i < kinds.size() ? kinds[i] : Column::kText;
    const bool formula = StartsFormula(field) && (kind == Column::kText || !IsCount(field));
    if (!formula && field.find_first_of(std::string_view(special, sizeof special)) == std::string::npos) {
      out += field;
      continue;
    }
    out += formula ? "\"'" : "\"";
    for (char c : field) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  out += "\r\n";
  return out;
}

std::string JsonString(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char byte : RepairedUtf8(bytes)) {
    const auto c = static_cast<unsigned char>(byte);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += byte;
        }
    }
  }
  out += '"';
  return out;
}

std::string JsonRecord(const std::vector<std::string>& names, const std::vector<std::string>& texts) {
  std::string out = "{";
  for (std::size_t i = 0; i < names.size() && i < texts.size(); ++i) {
    if (i > 0) out += ',';
    out += JsonString(names[i]);
    out += ':';
    out += JsonString(texts[i]);
  }
  out += "}\n";
  return out;
}

RowWriter::RowWriter(std::FILE* out, const Format& format, std::vector<OutputColumn> columns)
    : out_(out), format_(format), columns_(std::move(columns)) {
  // Each record goes straight to the system, and nothing of a failed one stays behind in a
  // buffer to be written at the close.
  std::setvbuf(out_, nullptr, _IONBF, 0);
  for (const OutputColumn& column : columns_) {
    keys_.push_back(column.key);
    kinds_.push_back(column.kind);
  }
  whole_ = RegularFileSize(out_);
}

void RowWriter::Header() {
  if (format_.json) return;
  std::vector<std::string> titles;
  for (const OutputColumn& column : columns_) titles.push_back(column.title);
  Write((format_.byteOrderMark ? "\xEF\xBB\xBF" : "") + CsvRecord(titles, format_.separator, {}));
}

void RowWriter::Row(const std::vector<std::string>& cells) {
  Write(format_.json ? JsonRecord(keys_, cells) : CsvRecord(cells, format_.separator, kinds_));
}

void RowWriter::Write(const std::string& bytes) {
  if (!ok_) return;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), out_) == bytes.size() && std::fflush(out_) == 0) {
    if (whole_) whole_ = RegularFileSize(out_);
    return;
  }
  ok_ = false;
  error_ = errno != 0 ? errno : EIO;
  // A record written in part is taken back, so that the file ends with a whole one.
  if (whole_) CutFile(out_, *whole_);
}

}  // namespace quillet::cli
