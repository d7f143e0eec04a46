#include "services/import/ReaderKit.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "services/text/Hosts.h"
#include "services/text/Keys.h"
#include "services/text/Strings.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

// Progress is reported every so many lines, and every so many bytes for files of long lines.
constexpr std::int64_t kProgressLines = 2000;
constexpr std::int64_t kProgressBytes = 1 << 20;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The length of a blank that groups digits at text[i] (' ', U+00A0, U+202F), or 0.
std::size_t GroupBlank(std::string_view text, std::size_t i) {
  if (text[i] == ' ') return 1;
  if (text.substr(i, 2) == "\xC2\xA0") return 2;
  if (text.substr(i, 3) == "\xE2\x80\xAF") return 3;
  return 0;
}

// Multipliers of range ends, as the planner writes them in its export languages.
struct Unit {
  std::string_view text;
  std::int64_t times;
};
constexpr Unit kUnits[] = {{"k", 1000},    {"K", 1000},     {"mil", 1000},
                           {"M", 1000000}, {"mi", 1000000}, {"\xE4\xB8\x87", 10000}};  // 万

// A range end: a count with an optional unit after it.
std::optional<double> RangeEnd(std::string_view text) {
  text = Trim(text);
  for (const Unit& unit : kUnits) {
    if (text.size() > unit.text.size() && text.substr(text.size() - unit.text.size()) == unit.text) {
      std::optional<std::int64_t> count = ParseCount(text.substr(0, text.size() - unit.text.size()));
      if (count) return static_cast<double>(*count) * static_cast<double>(unit.times);
    }
  }
  std::optional<std::int64_t> count = ParseCount(text);
  if (!count) return std::nullopt;
  return static_cast<double>(*count);
}

}  // namespace

std::optional<std::int64_t> ParseCount(std::string_view text, std::int64_t max) {
  text = Trim(text);
  std::int64_t value = 0;
  bool any = false;
  for (std::size_t i = 0; i < text.size();) {
    char c = text[i];
    if (IsDigit(c)) {
      if (value > (max - (c - '0')) / 10) return std::nullopt;
      value = value * 10 + (c - '0');
      any = true;
      ++i;
    } else if (c == ',') {
      ++i;
    } else if (c == '.' && any && i + 3 < text.size() && IsDigit(text[i + 1]) && IsDigit(text[i + 2]) &&
               IsDigit(text[i + 3]) && (i + 4 == text.size() || !IsDigit(text[i + 4]))) {
      ++i;  // groups thousands: "12.100"
    } else if (std::size_t blank = GroupBlank(text, i); blank > 0) {
      i += blank;
    } else {
      return std::nullopt;
    }
  }
  if (!any) return std::nullopt;
  return value;
}

bool IsBlankVolume(std::string_view text) {
  text = Trim(text);
  return text.empty() || text == "-" || text == "\xE2\x80\x93" || text == "\xE2\x80\x94";
}

std::optional<Volume> ParseVolume(std::string_view text) {
  if (std::optional<std::int64_t> count = ParseCount(text)) return Volume{*count, false};
  // A range: two ends around a dash or a wave dash, blanks around it optional.
  static constexpr std::string_view kDashes[] = {
      "\xE2\x80\x93", "\xE2\x80\x94", "\xEF\xBD\x9E", "\xE3\x80\x9C", "-", "~"};
  for (std::string_view dash : kDashes) {
    std::size_t at = text.find(dash);
    if (at == std::string_view::npos) continue;
    std::optional<double> low = RangeEnd(text.substr(0, at)), high = RangeEnd(text.substr(at + dash.size()));
    if (!low || !high || *low > *high || *high > 2147483647.0) return std::nullopt;
    return Volume{std::llround(std::sqrt(*low * *high)), true};
  }
  return std::nullopt;
}

bool SameHeading(std::string_view field, std::string_view heading) { return FoldCase(Trim(field)) == heading; }

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

bool EndsInsideQuotes(std::string_view line, char separator) {
  bool quoted = false, fieldStart = true;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') ++i;
      else if (c == '"') quoted = false;
    } else if (c == separator) {
      fieldStart = true;
    } else if (c == '"' && fieldStart) {
      quoted = true;
      fieldStart = false;
    } else if (c != ' ' && c != '\t') {
      fieldStart = false;
    }
  }
  return quoted;
}

char HeaderSeparator(std::string_view line) {
  std::size_t counts[3] = {};
  static constexpr char kSeparators[3] = {'\t', ';', ','};
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    for (int k = 0; k < 3 && !quoted; ++k)
      if (c == kSeparators[k]) ++counts[k];
  }
  int best = 2;
  for (int k = 0; k < 3; ++k)
    if (counts[k] > counts[best]) best = k;
  return kSeparators[best];
}

std::optional<ColumnLayout> FindColumns(std::string_view line, std::span<const std::string_view> first,
                                        std::span<const std::string_view> second) {
  char separator = HeaderSeparator(line);
  auto fields = SplitFields(line, separator);
  if (!fields) return std::nullopt;
  auto find = [&](std::span<const std::string_view> headings) -> std::optional<size_t> {
    for (std::string_view heading : headings)
      for (size_t f = 0; f < fields->size(); ++f)
        if (SameHeading((*fields)[f], heading)) return f;
    return std::nullopt;
  };
  std::optional<size_t> a = find(first), b = find(second);
  if (!a || !b || *a == *b) return std::nullopt;
  return ColumnLayout{separator, *a, *b};
}

void PutRankFields(StoreWriter& store, std::int64_t number, std::string_view rankText, const std::string& host,
                   std::string_view hostText, std::string_view hostReason, ImportReport& report) {
  std::optional<std::int64_t> rank = ParseCount(rankText);
  if (!rank || *rank == 0) {
    report.Skip(number, skip::kRank, Quoted(Trim(rankText)));
  } else if (host.empty()) {
    report.Skip(number, hostReason, Quoted(hostText));
  } else {
    report.Count(store.PutRank(host, *rank));
  }
}

void TallyTerm(StoreWriter& store, std::int64_t number, std::string_view text, std::int64_t count,
               ImportReport& report) {
  std::string why;
  std::optional<std::string> term = NormalizeTerm(text, &why);
  if (!term) {
    report.Skip(number, why, Quoted(text));
    return;
  }
  store.TallyKeyword(*term, count);
  ++report.summed;
}

std::string PageAddressProblem(const std::string& url, std::string* detail) {
  if (std::string problem = KeyProblem(url); !problem.empty()) return skip::InUrl(problem);
  std::string lowered = Lower(url.substr(0, 8));
  *detail = Quoted(url);
  if (lowered.rfind("http://", 0) != 0 && lowered.rfind("https://", 0) != 0) return std::string(skip::kUrlNotHttp);
  if (url.size() > limits::kMaxUrlLength) {
    *detail = "over " + std::to_string(limits::kMaxUrlLength) + " bytes";
    return std::string(skip::kUrlTooLong);
  }
  if (ValidHost(url).empty()) return std::string(skip::kUrlWithoutHost);
  detail->clear();
  return {};
}

void GuardedStore::Before() {
  std::int64_t verified = input_.Verified();
  if (marked_ && markedEnd_ <= verified) {
    store_.ReleaseMark();
    marked_ = false;
  }
  if (!marked_ && recordEnd_ > verified) {
    store_.Mark();
    marked_ = true;
    since_ = ImportReport();
  }
  if (marked_) markedEnd_ = std::max(markedEnd_, recordEnd_);
}

StoreWriter::Put GuardedStore::Counted(Put put) {
  if (marked_) since_.Count(put);
  return put;
}

StoreWriter::Put GuardedStore::PutKeyword(const std::string& term, std::int64_t searches) {
  Before();
  return Counted(store_.PutKeyword(term, searches));
}

StoreWriter::Put GuardedStore::PutRank(const std::string& host, std::int64_t rank) {
  Before();
  return Counted(store_.PutRank(host, rank));
}

bool GuardedStore::AddPage(const PageInput& page) {
  Before();
  bool added = store_.AddPage(page);
  if (marked_) ++(added ? since_.added : since_.alreadyStored);
  return added;
}

StoreWriter::Merge GuardedStore::MergePage(const PageInput& page) {
  Before();
  Merge merge = store_.MergePage(page);
  if (marked_) {
    if (merge == Merge::Added) ++since_.added;
    else if (merge == Merge::Updated) ++since_.updated;
    else ++since_.alreadyStored;
  }
  return merge;
}

void GuardedStore::TallyKeyword(const std::string& term, std::int64_t count) {
  Before();
  store_.TallyKeyword(term, count);
  if (marked_) ++since_.summed;
}

TallyResult GuardedStore::StoreTally(std::int64_t, std::int64_t) {
  throw std::logic_error("a reader does not store the run's totals");
}
void GuardedStore::Mark() { throw std::logic_error("a reader does not mark its writes"); }
void GuardedStore::ReleaseMark() { throw std::logic_error("a reader does not mark its writes"); }
void GuardedStore::RollBackToMark() { throw std::logic_error("a reader does not mark its writes"); }
void GuardedStore::Commit() { throw std::logic_error("a reader does not commit"); }

void GuardedStore::Finish() {
  if (!marked_) return;
  marked_ = false;
  if (input_.HowItEnded() != InputFile::Ending::kDamaged || markedEnd_ <= input_.Verified()) {
    store_.ReleaseMark();
    return;
  }
  store_.RollBackToMark();
  report_.TakeBack(since_);
}

ImportLines::ImportLines(InputFile& input, StoreWriter& store, std::size_t maxLine, ImportReport& report,
                         const ImportProgress& progress)
    : input_(input),
      reader_(input_, maxLine),
      store_(store, input_, report),
      maxLine_(maxLine),
      report_(report),
      progress_(progress) {}

void ImportLines::ReportProgress() {
  if (progress_ && ((reader_.Number() + 1) % kProgressLines == 0 || input_.Consumed() - reported_ >= kProgressBytes)) {
    reported_ = input_.Consumed();
    if (!progress_(reported_, input_.Size())) throw ImportInterrupted();
  }
}

bool ImportLines::Next(std::string_view* line) {
  while (true) {
    ReportProgress();
    LineReader::Result result = reader_.Next(line);
    if (result == LineReader::Result::End) return false;
    number_ = reader_.Number();
    store_.SetRecordEnd(reader_.Position());
    if (result == LineReader::Result::TooLong) {
      ++report_.lines;
      report_.Skip(number_, skip::kLineTooLong, "over " + std::to_string(maxLine_) + " bytes");
      continue;
    }
    if (!reader_.Ended() && input_.HowItEnded() == InputFile::Ending::kCutShort) {
      // What inflated before the cut is sound, but this line may have gone on.
      ++report_.lines;
      report_.Skip(number_, skip::kLineCutShort, Quoted(*line));
      continue;
    }
    if (!Trim(*line).empty()) return true;
  }
}

bool ImportLines::NextRecord(std::string_view* record, char* separator) {
  while (Next(record)) {
    if (*separator == 0) *separator = record->find('\t') != std::string_view::npos ? '\t' : ',';
    if (!EndsInsideQuotes(*record, *separator)) return true;
    record_.assign(*record);
    std::string_view problem;
    while (problem.empty() && EndsInsideQuotes(record_, *separator)) {
      std::string_view line;
      LineReader::Result result = reader_.Next(&line);
      store_.SetRecordEnd(reader_.Position());
      if (result == LineReader::Result::End) problem = skip::kQuoteNotClosed;
      else if (result == LineReader::Result::TooLong || record_.size() + 1 + line.size() > maxLine_)
        problem = skip::kLineTooLong;
      else if (!reader_.Ended() && input_.HowItEnded() == InputFile::Ending::kCutShort) problem = skip::kLineCutShort;
      else record_.append(1, '\n').append(line);
    }
    if (problem.empty()) {
      *record = record_;
      return true;
    }
    // Lines up to here were read into the record: reading goes on after them.
    ++report_.lines;
    report_.Skip(number_, problem, "a quoted field runs on to line " + std::to_string(reader_.Number()));
    record_.clear();
    record_.shrink_to_fit();
  }
  return false;
}

void ImportLines::Finish() {
  report_.damage = input_.Damage();
  store_.Finish();
  if (progress_ && !progress_(input_.Size(), input_.Size())) throw ImportInterrupted();
}

}  // namespace quillet::services
