#include "services/import/ReaderKit.h"

#include "services/text/Hosts.h"
#include "services/text/Keys.h"
#include "services/text/Strings.h"

namespace quillet::services {
namespace {

// Progress is reported every so many lines, and every so many bytes for files of long lines.
constexpr std::int64_t kProgressLines = 2000;
constexpr std::int64_t kProgressBytes = 1 << 20;

}  // namespace

std::optional<std::int64_t> ParseCount(std::string_view text, std::int64_t max) {
  std::int64_t value = 0;
  bool any = false;
  for (char c : Trim(text)) {
    if (c >= '0' && c <= '9') {
      if (value > (max - (c - '0')) / 10) return std::nullopt;
      value = value * 10 + (c - '0');
      any = true;
    } else if (c != ',' && c != ' ') {
      return std::nullopt;
    }
  }
  if (!any) return std::nullopt;
  return value;
}

bool SameHeading(std::string_view field, std::string_view heading) { return Lower(Trim(field)) == heading; }

ImportLines::ImportLines(InputFile& input, std::size_t maxLine, ImportReport& report, const ImportProgress& progress)
    : input_(input), reader_(input_, maxLine), maxLine_(maxLine), report_(report), progress_(progress) {}

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

std::optional<ColumnLayout> FindColumns(std::string_view line, std::string_view first, std::string_view second) {
  char separator = line.find('\t') != std::string_view::npos ? '\t' : ',';
  auto fields = SplitFields(line, separator);
  if (!fields) return std::nullopt;
  std::optional<size_t> a, b;
  for (size_t f = 0; f < fields->size(); ++f) {
    if (!a && SameHeading((*fields)[f], first)) a = f;
    if (!b && SameHeading((*fields)[f], second)) b = f;
  }
  if (!a || !b) return std::nullopt;
  return ColumnLayout{separator, *a, *b};
}

void PutRankFields(StoreWriter& store, std::int64_t number, std::string_view rankText, const std::string& host,
                   std::string_view hostText, std::string_view hostReason, ImportReport& report) {
  std::optional<std::int64_t> rank = ParseCount(rankText);
  if (!rank || *rank == 0) {
    report.Skip(number, skip::kRank, Quoted(Trim(rankText)));
  } else if (host.empty()) {
    report.Skip(number, hostReason, Quoted(hostText));
  } else if (store.PutRank(host, *rank) == StoreWriter::Put::Added) {
    ++report.added;
  } else {
    ++report.replaced;
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
    if (result == LineReader::Result::TooLong) {
      ++report_.lines;
      report_.Skip(reader_.Number(), skip::kLineTooLong, "over " + std::to_string(maxLine_) + " bytes");
      continue;
    }
    if (!Trim(*line).empty()) return true;
  }
}

void ImportLines::Finish() {
  report_.damage = input_.Damage();
  if (progress_ && !progress_(input_.Size(), input_.Size())) throw ImportInterrupted();
}

}  // namespace quillet::services
