#include "services/Import.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>

#include "services/JsonLine.h"
#include "services/Query.h"
#include "services/Store.h"

namespace quillet::services {
namespace {

constexpr std::int64_t kProgressEvery = 2000;
constexpr std::int64_t kMaxCount = 2147483647;  // the program reads counts as 32-bit integers
constexpr size_t kHeaderSearchLines = 10;

bool HasUtf16Bom(const std::string& bytes) {
  return bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
}

std::string Trim(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return {};
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(start, end - start + 1);
}

// A whole count, digits optionally grouped by ',' or blanks.
std::optional<std::int64_t> ParseCount(const std::string& text) {
  std::string field = Trim(text);
  std::int64_t value = 0;
  bool any = false;
  for (char c : field) {
    if (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      any = true;
      if (value > kMaxCount) return std::nullopt;
    } else if (c != ',' && c != ' ') {
      return std::nullopt;
    }
  }
  if (!any) return std::nullopt;
  return value;
}

// The lines of a file, numbered from 1, without line ends and without a UTF-8 byte order
// mark. Large UTF-8 files are streamed; UTF-16 files are read whole and converted.
class LineSource {
 public:
  explicit LineSource(const std::string& path) : file_(path, std::ios::binary) {
    if (!file_) throw std::runtime_error("cannot open " + path);
    file_.seekg(0, std::ios::end);
    total_ = static_cast<std::int64_t>(file_.tellg());
    file_.seekg(0);
    char head[2] = {0, 0};
    file_.read(head, 2);
    file_.clear();
    file_.seekg(0);
    if (HasUtf16Bom(std::string(head, 2))) {
      std::ostringstream whole;
      whole << file_.rdbuf();
      memory_.str(ToUtf8(whole.str()));
      inMemory_ = true;
    }
  }

  bool Next(std::string* line) {
    std::istream& in = inMemory_ ? static_cast<std::istream&>(memory_) : file_;
    if (!std::getline(in, *line)) {
      if (!in.eof()) throw std::runtime_error("read error");
      return false;
    }
    ++number_;
    if (number_ == 1 && line->compare(0, 3, "\xEF\xBB\xBF") == 0) line->erase(0, 3);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
  }

  std::int64_t Number() const { return number_; }
  std::int64_t Total() const { return total_; }
  // Bytes consumed so far (of the converted text for UTF-16 files, which is close enough).
  std::int64_t Done() {
    std::streamoff at = inMemory_ ? memory_.tellg() : file_.tellg();
    return at < 0 ? total_ : std::min<std::int64_t>(total_, at);
  }

 private:
  std::ifstream file_;
  std::istringstream memory_;
  bool inMemory_ = false;
  std::int64_t number_ = 0;
  std::int64_t total_ = 0;
};

void Tick(LineSource& source, const ImportProgress& progress) {
  if (progress && source.Number() % kProgressEvery == 0 && !progress(source.Done(), source.Total()))
    throw ImportInterrupted();
}

void Finish(LineSource& source, const ImportProgress& progress) {
  if (progress && !progress(source.Total(), source.Total())) throw ImportInterrupted();
}

bool SameHeading(const std::string& field, std::string_view heading) { return Lower(Trim(field)) == heading; }

struct KeywordLayout {
  char separator = ',';
  size_t termColumn = 0;
  size_t countColumn = 1;
  std::int64_t headerLine = 0;  // 0: no header
};

}  // namespace

void ImportReport::Reject(std::int64_t line, const std::string& reason) {
  ++rejected;
  if (problems.size() < kMaxProblems) problems.push_back("line " + std::to_string(line) + ": " + reason);
}

std::string ToUtf8(std::string bytes) {
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  if (!HasUtf16Bom(bytes)) return bytes;
  bool little = bytes[0] == '\xFF';
  if (bytes.size() % 2 != 0) throw std::runtime_error("UTF-16 text with an odd number of bytes");
  auto unit = [&](size_t i) {
    unsigned char a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return little ? static_cast<std::uint32_t>(a | (b << 8)) : static_cast<std::uint32_t>((a << 8) | b);
  };
  std::string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 2; i < bytes.size(); i += 2) {
    std::uint32_t code = unit(i);
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 2 >= bytes.size()) throw std::runtime_error("UTF-16 text ends inside a surrogate pair");
      std::uint32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) throw std::runtime_error("unpaired UTF-16 surrogate");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      throw std::runtime_error("unpaired UTF-16 surrogate");
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::vector<std::string> SplitFields(const std::string& line, char separator) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"' && Trim(fields.back()).empty()) {
      fields.back().clear();
      quoted = true;
    } else if (c == separator) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

ImportReport ImportKeywords(Database& db, const std::string& path, const ImportProgress& progress) {
  ImportReport report;
  LineSource source(path);
  std::vector<std::string> lines;
  std::string line;
  while (source.Next(&line)) lines.push_back(line);

  KeywordLayout layout;
  bool sawLine = false;
  for (size_t i = 0; i < lines.size() && i < kHeaderSearchLines; ++i) {
    if (Trim(lines[i]).empty()) continue;
    char separator = lines[i].find('\t') != std::string::npos ? '\t' : ',';
    if (!sawLine) layout.separator = separator;
    sawLine = true;
    std::vector<std::string> fields = SplitFields(lines[i], separator);
    std::optional<size_t> term, count;
    for (size_t f = 0; f < fields.size(); ++f) {
      if (!term && SameHeading(fields[f], "keyword")) term = f;
      if (!count && SameHeading(fields[f], "avg. monthly searches")) count = f;
    }
    if (term && count) {
      layout = {separator, *term, *count, static_cast<std::int64_t>(i + 1)};
      break;
    }
  }

  Transaction transaction(db);
  CreateSchema(db);
  Writer writer(db);
  for (size_t i = static_cast<size_t>(layout.headerLine); i < lines.size(); ++i) {
    std::int64_t number = static_cast<std::int64_t>(i + 1);
    if (progress && number % kProgressEvery == 0 &&
        !progress(source.Total() * number / static_cast<std::int64_t>(lines.size()), source.Total()))
      throw ImportInterrupted();
    if (Trim(lines[i]).empty()) continue;
    ++report.lines;
    std::vector<std::string> fields = SplitFields(lines[i], layout.separator);
    if (fields.size() <= std::max(layout.termColumn, layout.countColumn)) {
      report.Reject(number, "too few columns");
      continue;
    }
    std::string why;
    std::optional<std::string> term = NormalizeTerm(fields[layout.termColumn], &why);
    if (!term) {
      report.Reject(number, why);
      continue;
    }
    std::optional<std::int64_t> count = ParseCount(fields[layout.countColumn]);
    if (!count) {
      report.Reject(number, "search count \"" + Trim(fields[layout.countColumn]) +
                                "\" is not a whole number from 0 to 2147483647");
      continue;
    }
    if (writer.PutKeyword(*term, *count)) ++report.added;
    else ++report.replaced;
  }
  Finish(source, progress);
  transaction.Commit();
  return report;
}

ImportReport ImportPages(Database& db, const std::string& path, const ImportProgress& progress) {
  ImportReport report;
  LineSource source(path);
  Transaction transaction(db);
  CreateSchema(db);
  Writer writer(db);
  std::string line;
  PageRecord record;
  while (source.Next(&line)) {
    Tick(source, progress);
    if (Trim(line).empty()) continue;
    ++report.lines;
    std::string error;
    if (!ParsePageRecord(line, &record, &error)) {
      report.Reject(source.Number(), "not a page record: " + error);
      continue;
    }
    std::string lowered = Lower(record.url);
    if (lowered.rfind("http://", 0) != 0 && lowered.rfind("https://", 0) != 0) {
      report.Reject(source.Number(), "url must begin with http:// or https://");
      continue;
    }
    std::string host = NormalizeHost(record.url);
    if (host.find('.') == std::string::npos || host.find_first_of("<>\"' ") != std::string::npos) {
      report.Reject(source.Number(), "url has no usable host name");
      continue;
    }
    if (writer.AddPage(record.url, record.title, record.text, record.links)) ++report.added;
    else report.Reject(source.Number(), "address already imported: " + record.url);
  }
  Finish(source, progress);
  transaction.Commit();
  return report;
}

ImportReport ImportRanks(Database& db, const std::string& path, const ImportProgress& progress) {
  ImportReport report;
  LineSource source(path);
  Transaction transaction(db);
  CreateSchema(db);
  Writer writer(db);
  std::string line;
  while (source.Next(&line)) {
    Tick(source, progress);
    if (Trim(line).empty()) continue;
    char separator = line.find('\t') != std::string::npos ? '\t' : ',';
    std::vector<std::string> fields = SplitFields(line, separator);
    if (report.lines == 0 && fields.size() == 2 && SameHeading(fields[0], "rank")) continue;
    ++report.lines;
    if (fields.size() != 2) {
      report.Reject(source.Number(), "expected two fields, rank and domain");
      continue;
    }
    std::optional<std::int64_t> rank = ParseCount(fields[0]);
    if (!rank || *rank == 0) {
      report.Reject(source.Number(), "rank \"" + Trim(fields[0]) + "\" is not a whole number from 1 to 2147483647");
      continue;
    }
    std::string domain = NormalizeHost(Trim(fields[1]));
    if (domain.find('.') == std::string::npos || domain.find_first_of("<>\"' ") != std::string::npos) {
      report.Reject(source.Number(), "\"" + Trim(fields[1]) + "\" is not a domain name");
      continue;
    }
    if (writer.PutRank(domain, *rank)) ++report.added;
    else ++report.replaced;
  }
  Finish(source, progress);
  transaction.Commit();
  return report;
}

}  // namespace quillet::services
