#pragma once
// How quillet-research writes its rows: CSV (RFC 4180: CR LF after every record, a field in
// double quotes when it holds the separator, a quote, CR or LF, quotes inside doubled) or JSON
// Lines (one object of strings a line). The texts are written as they came from the service,
// which sends UTF-8.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::cli {

// One CSV record, with its CR LF.
std::string CsvRecord(const std::vector<std::string>& fields, char separator);

// A JSON string literal of the bytes. Valid UTF-8 sequences pass; a byte that is not part of
// one stands for the character of its value (as in ISO 8859-1), so that every line is valid
// JSON whatever the service sent.
std::string JsonString(std::string_view bytes);

// One JSON object of names and texts, with its LF.
std::string JsonRecord(const std::vector<std::string>& names, const std::vector<std::string>& texts);

struct Format {
  bool json = false;
  char separator = ',';        // CSV only
  bool byteOrderMark = false;  // CSV only: a UTF-8 byte order mark first
};

// Writes a header (CSV) and then records to a stream it does not own, each flushed whole as
// soon as it is complete, so that what stands in the file at any moment is valid. Ok() turns
// false for good at the first failed write.
class RowWriter {
 public:
  // columns: the CSV header; keys: the JSON names, one for each column.
  RowWriter(std::FILE* out, const Format& format, std::vector<std::string> columns, std::vector<std::string> keys);

  void Header();
  void Row(const std::vector<std::string>& cells);
  bool Ok() const { return ok_; }
  // The system's error number of the failed write.
  int Error() const { return error_; }

 private:
  void Write(const std::string& bytes);

  std::FILE* out_;
  Format format_;
  std::vector<std::string> columns_;
  std::vector<std::string> keys_;
  bool ok_ = true;
  int error_ = 0;
};

}  // namespace quillet::cli
