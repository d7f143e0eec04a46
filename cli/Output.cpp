#include "cli/Output.h"

#include <cerrno>

namespace quillet::cli {
namespace {

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

}  // namespace

std::string CsvRecord(const std::vector<std::string>& fields, char separator) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += separator;
    const std::string& field = fields[i];
    const char special[] = {separator, '"', '\r', '\n'};
    if (field.find_first_of(std::string_view(special, sizeof special)) == std::string::npos) {
      out += field;
      continue;
    }
    out += '"';
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
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x80) {
      if (const std::size_t n = Utf8Length(bytes.substr(i))) {
        out.append(bytes.substr(i, n));
        i += n;
      } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
        ++i;
      }
      continue;
    }
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
          out += static_cast<char>(c);
        }
    }
    ++i;
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

RowWriter::RowWriter(std::FILE* out, const Format& format, std::vector<std::string> columns,
                     std::vector<std::string> keys)
    : out_(out), format_(format), columns_(std::move(columns)), keys_(std::move(keys)) {}

void RowWriter::Header() {
  if (format_.json) return;
  Write((format_.byteOrderMark ? "\xEF\xBB\xBF" : "") + CsvRecord(columns_, format_.separator));
}

void RowWriter::Row(const std::vector<std::string>& cells) {
  Write(format_.json ? JsonRecord(keys_, cells) : CsvRecord(cells, format_.separator));
}

void RowWriter::Write(const std::string& bytes) {
  if (!ok_) return;
  ok_ = std::fwrite(bytes.data(), 1, bytes.size(), out_) == bytes.size() && std::fflush(out_) == 0;
  if (!ok_) error_ = errno;
}

}  // namespace quillet::cli
