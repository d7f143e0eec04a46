#include "services/import/Warc.h"

#include <algorithm>
#include <limits>

#include "services/text/Strings.h"

namespace quillet::services {
namespace {

constexpr std::string_view kStart = "WARC/1.";
// A stated length past this is no length a record could have (and would not fit the sizes
// of a 32-bit build).
constexpr std::int64_t kMaxBlock =
    std::min<std::uint64_t>(std::uint64_t{1} << 50, std::numeric_limits<std::size_t>::max());

bool IsStart(std::string_view line) { return line.substr(0, kStart.size()) == kStart; }

std::optional<std::int64_t> ParseLength(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > 16) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > kMaxBlock) return std::nullopt;
  return value;
}

}  // namespace

std::string WarcTypeOf(std::string_view type) {
  for (std::string_view known :
       {"warcinfo", "response", "resource", "request", "metadata", "revisit", "conversion", "continuation"})
    if (type == known) return std::string(known);
  return "other";
}

std::string RecordsOfType(std::string_view type) { return WarcTypeOf(type) + " records"; }

void MergeArchivePage(StoreWriter& store, const PageInput& page, std::int64_t record, ImportReport& report) {
  switch (store.MergePage(page)) {
    case StoreWriter::Merge::Added: ++report.added; break;
    case StoreWriter::Merge::Updated: ++report.updated; break;
    case StoreWriter::Merge::Unchanged: report.AlreadyStored(record, page.url); break;
  }
}

WarcRecords::WarcRecords(InputFile& input, StoreWriter& store, std::string_view wanted, std::size_t keep,
                         ImportReport& report, const ImportProgress& progress)
    : report_(report), lines_(input, store, limits::kMaxTableLine, report, progress), wanted_(wanted), keep_(keep) {
  report_.unit = "record";
  report_.wanted = RecordsOfType(wanted);
}

void WarcRecords::Skip(std::string_view reason) {
  ++report_.lines;
  report_.Skip(number_, reason);
  skipping_ = true;
}

bool WarcRecords::FindStart() {
  if (atStart_) {
    atStart_ = false;
    skipping_ = false;
    return true;
  }
  bool stray = false;
  std::string_view line;
  while (true) {
    LineReader::Result result = lines_.Lines().Next(&line);
    if (result == LineReader::Result::End) break;
    if (result == LineReader::Result::Line && IsStart(line)) {
      if (stray && !skipping_) {
        ++report_.lines;
        report_.Skip(number_ + 1, skip::kTextBeforeRecord);
      }
      skipping_ = false;
      return true;
    }
    if (result == LineReader::Result::TooLong || !Trim(line).empty()) stray = true;
  }
  if (stray && !skipping_) {
    ++report_.lines;
    report_.Skip(number_ + 1, skip::kTextAtEnd);
  }
  return false;
}

WarcRecords::Header WarcRecords::ReadHeader(WarcRecord* record, std::string* problem) {
  record->type.clear();
  record->target.clear();
  bool haveLength = false;
  std::string_view line;
  for (std::size_t count = 0;; ++count) {
    LineReader::Result result = lines_.Lines().Next(&line);
    if (result == LineReader::Result::End) {
      *problem = skip::kRecordCutShort;
      return Header::kEndOfFile;
    }
    if (result == LineReader::Result::TooLong) {
      *problem = skip::kHeaderLineTooLong;
      return Header::kBad;
    }
    if (line.empty()) break;
    if (IsStart(line)) {
      // The next record began before this one's header ended.
      atStart_ = true;
      *problem = skip::kHeaderCutShort;
      return Header::kBad;
    }
    if (count == limits::kMaxWarcHeaderLines) {
      *problem = skip::TooManyHeaderLines();
      return Header::kBad;
    }
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string name = Lower(Trim(line.substr(0, colon)));
    std::string_view value = Trim(line.substr(colon + 1));
    if (name == "warc-type") {
      record->type = value;
    } else if (name == "warc-target-uri") {
      if (value.size() >= 2 && value.front() == '<' && value.back() == '>') value = value.substr(1, value.size() - 2);
      record->target = value;
    } else if (name == "content-length") {
      std::optional<std::int64_t> length = ParseLength(value);
      haveLength = length.has_value();
      record->length = length.value_or(0);
    }
  }
  if (haveLength) return Header::kGood;
  *problem = skip::kNoContentLength;
  return Header::kBad;
}

bool WarcRecords::Next(WarcRecord* record) {
  while (true) {
    lines_.ReportProgress();
    if (!FindStart()) return false;
    record->number = ++number_;
    std::string problem;
    Header header = ReadHeader(record, &problem);
    if (header != Header::kGood) {
      Skip(problem);
      if (header == Header::kEndOfFile) return false;
      continue;
    }
    record->block.clear();
    auto length = static_cast<std::size_t>(record->length);
    LineReader& lines = lines_.Lines();
    std::size_t got = lines.ReadBlock(length, &record->block, keep_, kStart);
    // The record ends with its block: the line peeked at below may be the next member's.
    lines_.EndRecord();
    std::string_view line;
    if (got < length) {
      // Either the file ended, or the stated length ran into the next record.
      if (lines.Next(&line) == LineReader::Result::End) {
        Skip(skip::kRecordCutShort);
        return false;
      }
      atStart_ = IsStart(line);
      Skip(skip::kLengthRunsPast);
      continue;
    }
    // Two line ends close the block; what follows must be the next record or the end.
    LineReader::Result after;
    do after = lines.Next(&line);
    while (after == LineReader::Result::Line && line.empty());
    if (after == LineReader::Result::Line && IsStart(line)) atStart_ = true;
    else if (after != LineReader::Result::End) {
      Skip(skip::kLengthFallsShort);
      continue;
    }
    if (record->type == wanted_) return true;
    ++report_.leftOut[RecordsOfType(record->type)];
  }
}

}  // namespace quillet::services
