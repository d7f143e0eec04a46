#include "services/Import.h"

#include <algorithm>
#include <optional>

#include "services/Input.h"
#include "services/JsonLine.h"
#include "services/Query.h"
#include "services/Text.h"

namespace quillet::services {
namespace {

constexpr std::int64_t kMaxCount = 2147483647;  // the program reads counts as 32-bit integers
constexpr size_t kHeaderSearchLines = 10;
// Progress is reported every so many lines, and every so many bytes for files of long lines.
constexpr std::int64_t kProgressLines = 2000;
constexpr std::int64_t kProgressBytes = 1 << 20;
constexpr std::size_t kMaxDetail = 120;

std::string_view Trim(std::string_view text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(start, end - start + 1);
}

// A whole count, digits optionally grouped by ',' or blanks.
std::optional<std::int64_t> ParseCount(std::string_view text) {
  std::int64_t value = 0;
  bool any = false;
  for (char c : Trim(text)) {
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

bool SameHeading(std::string_view field, std::string_view heading) { return Lower(Trim(field)) == heading; }

// Text safe to quote in a report line: repaired and shortened.
std::string Quoted(std::string_view text) {
  return "\"" + RepairText(text.substr(0, kMaxDetail)) + (text.size() > kMaxDetail ? "...\"" : "\"");
}

// The lines of one file, with progress reports and the skipping of overlong lines.
class Lines {
 public:
  Lines(const std::string& path, std::size_t maxLine, ImportReport& report, const ImportProgress& progress)
      : input_(path), reader_(input_, maxLine), maxLine_(maxLine), report_(report), progress_(progress) {}

  // The next line that is not blank and not too long; false at the end of the file.
  bool Next(std::string_view* line) {
    while (true) {
      if (progress_ && ((reader_.Number() + 1) % kProgressLines == 0 || input_.Consumed() - reported_ >= kProgressBytes)) {
        reported_ = input_.Consumed();
        if (!progress_(reported_, input_.Size())) throw ImportInterrupted();
      }
      LineReader::Result result = reader_.Next(line);
      if (result == LineReader::Result::End) return false;
      if (result == LineReader::Result::TooLong) {
        ++report_.lines;
        report_.Skip(reader_.Number(), "line too long", "over " + std::to_string(maxLine_) + " bytes");
        continue;
      }
      if (!Trim(*line).empty()) return true;
    }
  }

  std::int64_t Number() const { return reader_.Number(); }

  void Finish() {
    report_.damage = input_.Damage();
    if (progress_ && !progress_(input_.Size(), input_.Size())) throw ImportInterrupted();
  }

 private:
  InputFile input_;
  LineReader reader_;
  std::size_t maxLine_;
  ImportReport& report_;
  const ImportProgress& progress_;
  std::int64_t reported_ = 0;
};

struct KeywordLayout {
  char separator = ',';
  size_t termColumn = 0;
  size_t countColumn = 1;
};

std::optional<KeywordLayout> HeaderLayout(std::string_view line) {
  char separator = line.find('\t') != std::string_view::npos ? '\t' : ',';
  auto fields = SplitFields(line, separator);
  if (!fields) return std::nullopt;
  std::optional<size_t> term, count;
  for (size_t f = 0; f < fields->size(); ++f) {
    if (!term && SameHeading((*fields)[f], "keyword")) term = f;
    if (!count && SameHeading((*fields)[f], "avg. monthly searches")) count = f;
  }
  if (!term || !count) return std::nullopt;
  return KeywordLayout{separator, *term, *count};
}

void ImportKeywordLine(StoreWriter& store, const KeywordLayout& layout, std::int64_t number, std::string_view line,
                       ImportReport& report) {
  ++report.lines;
  auto fields = SplitFields(line, layout.separator);
  if (!fields) {
    report.Skip(number, "too many fields", "over " + std::to_string(limits::kMaxFields));
    return;
  }
  if (fields->size() <= std::max(layout.termColumn, layout.countColumn)) {
    report.Skip(number, "too few columns");
    return;
  }
  std::string why;
  std::optional<std::string> term = NormalizeTerm((*fields)[layout.termColumn], &why);
  if (!term) {
    report.Skip(number, why);
    return;
  }
  const std::string& countText = (*fields)[layout.countColumn];
  std::optional<std::int64_t> count = ParseCount(countText);
  if (!count) {
    report.Skip(number, "search count not a whole number from 0 to 2147483647", Quoted(Trim(countText)));
    return;
  }
  if (store.PutKeyword(*term, *count) == StoreWriter::Put::Added) ++report.added;
  else ++report.replaced;
}

}  // namespace

void ImportReport::Skip(std::int64_t line, const std::string& reason, std::string_view detail) {
  ++skipped[reason];
  if (examples.size() < kMaxExamples) {
    std::string example = "line " + std::to_string(line) + ": " + reason;
    if (!detail.empty()) example += " (" + std::string(detail) + ")";
    examples.push_back(std::move(example));
  }
}

std::int64_t ImportReport::Skipped() const {
  std::int64_t total = 0;
  for (const auto& [reason, count] : skipped) total += count;
  return total;
}

bool ImportReport::NothingStored() const {
  auto repeated = skipped.find("address already stored");
  std::int64_t alreadyThere = repeated == skipped.end() ? 0 : repeated->second;
  return lines > alreadyThere && added + replaced == 0;
}

std::string ImportReport::Describe() const {
  std::string out = WithThousands(lines) + " lines: " + WithThousands(added + replaced) + " imported (" +
                    WithThousands(added) + " added, " + WithThousands(replaced) + " replaced), " +
                    WithThousands(Skipped()) + " skipped";
  if (!skipped.empty()) {
    out += "\n  skipped:";
    const char* separator = " ";
    for (const auto& [reason, count] : skipped) {
      out += separator + WithThousands(count) + " " + reason;
      separator = ", ";
    }
  }
  for (const std::string& example : examples) out += "\n  " + example;
  if (Skipped() > static_cast<std::int64_t>(examples.size()))
    out += "\n  ... and " + WithThousands(Skipped() - static_cast<std::int64_t>(examples.size())) + " more";
  if (linksDropped > 0) out += "\n  " + WithThousands(linksDropped) + " links to unusable addresses left out";
  if (!damage.empty()) out += "\n  the file ends early: " + damage + "; the lines before it were read";
  return out;
}

std::optional<std::vector<std::string>> SplitFields(std::string_view line, char separator, size_t maxFields) {
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
      if (fields.size() == maxFields) return std::nullopt;
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

ImportReport ImportKeywords(StoreWriter& store, const std::string& path, const ImportProgress& progress) {
  ImportReport report;
  Lines lines(path, limits::kMaxTableLine, report, progress);
  // The header, if any, is among the first lines; until it is found they are held back.
  std::vector<std::pair<std::int64_t, std::string>> held;
  std::optional<KeywordLayout> layout;
  std::string_view line;
  while (!layout && held.size() < kHeaderSearchLines && lines.Next(&line)) {
    layout = HeaderLayout(line);
    if (!layout) held.emplace_back(lines.Number(), std::string(line));
  }
  if (layout) {
    held.clear();  // title lines above the header
  } else {
    layout = KeywordLayout();
    if (!held.empty() && held.front().second.find('\t') != std::string::npos) layout->separator = '\t';
  }
  for (const auto& [number, text] : held) ImportKeywordLine(store, *layout, number, text, report);
  while (lines.Next(&line)) ImportKeywordLine(store, *layout, lines.Number(), line, report);
  lines.Finish();
  return report;
}

ImportReport ImportPages(StoreWriter& store, const std::string& path, const ImportProgress& progress) {
  ImportReport report;
  Lines lines(path, limits::kMaxPageLine, report, progress);
  std::string_view line;
  PageRecord record;
  PageInput page;
  while (lines.Next(&line)) {
    ++report.lines;
    std::int64_t number = lines.Number();
    std::string error;
    if (!ParsePageRecord(line, &record, &error, limits::kMaxLinksPerPage)) {
      bool tooMany = error.rfind("more than", 0) == 0;
      report.Skip(number, tooMany ? "too many links" : "not a page record", error);
      continue;
    }
    if (std::string problem = KeyProblem(record.url); !problem.empty()) {
      report.Skip(number, problem + " in url");
      continue;
    }
    std::string lowered = Lower(record.url.substr(0, 8));
    if (lowered.rfind("http://", 0) != 0 && lowered.rfind("https://", 0) != 0) {
      report.Skip(number, "url not http:// or https://", Quoted(record.url));
      continue;
    }
    if (record.url.size() > limits::kMaxUrlLength) {
      report.Skip(number, "url too long", "over " + std::to_string(limits::kMaxUrlLength) + " bytes");
      continue;
    }
    if (ValidHost(record.url).empty()) {
      report.Skip(number, "url has no usable host name", Quoted(record.url));
      continue;
    }
    page.url = std::move(record.url);
    page.title = RepairText(record.title.substr(0, limits::kMaxTitleLength));
    page.text = RepairText(record.text);
    page.links.clear();
    for (std::string& link : record.links) {
      if (ValidHost(link).empty()) ++report.linksDropped;
      else page.links.push_back(std::move(link));
    }
    if (store.AddPage(page)) ++report.added;
    else report.Skip(number, "address already stored", Quoted(page.url));
  }
  lines.Finish();
  return report;
}

ImportReport ImportRanks(StoreWriter& store, const std::string& path, const ImportProgress& progress) {
  ImportReport report;
  Lines lines(path, limits::kMaxTableLine, report, progress);
  std::string_view line;
  bool first = true;
  while (lines.Next(&line)) {
    char separator = line.find('\t') != std::string_view::npos ? '\t' : ',';
    auto fields = SplitFields(line, separator, 2);
    bool header = first && fields && fields->size() == 2 && SameHeading((*fields)[0], "rank");
    first = false;
    if (header) continue;
    ++report.lines;
    std::int64_t number = lines.Number();
    if (!fields || fields->size() != 2) {
      report.Skip(number, "not two fields, rank and domain");
      continue;
    }
    std::optional<std::int64_t> rank = ParseCount((*fields)[0]);
    if (!rank || *rank == 0) {
      report.Skip(number, "rank not a whole number from 1 to 2147483647", Quoted(Trim((*fields)[0])));
      continue;
    }
    std::string domain = ValidHost(Trim((*fields)[1]));
    if (domain.empty()) {
      report.Skip(number, "not a domain name", Quoted(Trim((*fields)[1])));
      continue;
    }
    if (store.PutRank(domain, *rank) == StoreWriter::Put::Added) ++report.added;
    else ++report.replaced;
  }
  lines.Finish();
  return report;
}

}  // namespace quillet::services
