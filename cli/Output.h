#pragma once
// How quillet-research writes its rows: CSV (RFC 4180: CR LF after every record, a field in
// double quotes when it holds the separator, a quote, CR or LF, quotes inside doubled) or JSON
// Lines (one object of strings a line). Both are valid UTF-8 whatever the service or the user
// gave: a byte that is not part of a valid UTF-8 sequence stands for the character of its
// value (as in ISO 8859-1).
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::cli {

// What a column holds. A spreadsheet runs a cell that begins with '=', '+', '-', '@', a tab
// or a CR as a formula. A text cell (a topic, a term, a site) that begins so is written with
// a "'" before it, inside its quotes, which makes it the text it is. A count column keeps
// the program's numbers (a sign, then digits, '.' and ',') and the placeholder "-" as they
// are; any other cell there is taken as text.
enum class Column { kText, kCount };

// The bytes as UTF-8: valid sequences pass, every other byte becomes the ISO 8859-1
// character of its value.
std::string RepairedUtf8(std::string_view bytes);

// One CSV record, with its CR LF. kinds gives the kind of each field (missing ones are
// text). Every field is made valid UTF-8 by RepairedUtf8, and a NUL becomes U+FFFD.
std::string CsvRecord(const std::vector<std::string>& fields, char separator, const std::vector<Column>& kinds);

// A JSON string literal of the bytes made valid UTF-8 by RepairedUtf8, so that every line
// is valid JSON whatever the service sent.
std::string JsonString(std::string_view bytes);

// One JSON object of names and texts, with its LF.
std::string JsonRecord(const std::vector<std::string>& names, const std::vector<std::string>& texts);

struct Format {
  bool json = false;
  char separator = ',';        // CSV only
  bool byteOrderMark = false;  // CSV only: a UTF-8 byte order mark first
};

struct OutputColumn {
  std::string title;  // in the CSV header
  std::string key;    // the JSON name
  Column kind;
};

// Writes a header (CSV) and then records to a stream it does not own, each written whole as
// soon as it is complete, so that what stands in the file at any moment is valid. It makes
// the stream unbuffered, so it must be given one that nothing has been written to. Ok()
// turns false for good at the first failed write (a full disk, a file-size limit); a
// regular file is then cut back to its last whole record.
class RowWriter {
 public:
  RowWriter(std::FILE* out, const Format& format, std::vector<OutputColumn> columns);

  void Header();
  void Row(const std::vector<std::string>& cells);
  bool Ok() const { return ok_; }
  // The system's error number of the failed write.
  int Error() const { return error_; }

 private:
  void Write(const std::string& bytes);

  std::FILE* out_;
  Format format_;
  std::vector<OutputColumn> columns_;
  std::vector<std::string> keys_;
  std::vector<Column> kinds_;
  // The size of the file after the last whole record; none when out is not a regular file.
  std::optional<std::int64_t> whole_;
  bool ok_ = true;
  int error_ = 0;
};

}  // namespace quillet::cli
