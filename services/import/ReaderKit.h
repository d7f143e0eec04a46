#pragma once
// What every reader of an import format shares: the lines (and CSV records) of an input with
// progress and the skipping of overlong lines, the store as a reader writes to it, and the
// small parsers of fields and headers. A new format is one file in services/import/readers/
// built from these, and one row of the table in Importers.cpp.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "services/Limits.h"
#include "services/import/Input.h"
#include "services/import/Report.h"
#include "services/store/Store.h"

namespace quillet::services {

// A whole count up to max, digits optionally grouped by ',', blanks (no-break ones too) or
// '.' before three digits ("12.100" as German exports write it).
std::optional<std::int64_t> ParseCount(std::string_view text, std::int64_t max = 2147483647);

// A search volume as keyword tools give it: a count, or a range ("1K – 10K", "10 – 100",
// "100 k – 1 M", "1 mil – 10 mil", "1万～10万") taken at its geometric middle, rounded.
struct Volume {
  std::int64_t searches = 0;
  bool range = false;
};
std::optional<Volume> ParseVolume(std::string_view text);
// A volume left blank (or shown as a dash): no figure at all.
bool IsBlankVolume(std::string_view text);

// The field, trimmed and case folded, equals heading (given case folded).
bool SameHeading(std::string_view field, std::string_view heading);
// One record of separated fields (RFC 4180): a field that starts with '"' runs to the next
// lone '"' and may hold the separator, line breaks and "" for a quote. Empty optional when
// the record has more than maxFields fields.
std::optional<std::vector<std::string>> SplitFields(std::string_view line, char separator,
                                                    size_t maxFields = limits::kMaxFields);
// Whether a record ends inside a quoted field (its next line belongs to it).
bool EndsInsideQuotes(std::string_view line, char separator);
// The separator of a header line: the most frequent of tab, ';' and ',' outside quotes
// (',' when there is none).
char HeaderSeparator(std::string_view line);

// A header row, when a file has one, is among its first lines (report titles may come first).
constexpr size_t kHeaderSearchLines = 10;

// Where two wanted columns are in separated lines.
struct ColumnLayout {
  char separator = ',';
  size_t first = 0;
  size_t second = 1;
};
// The layout of a header line that names a column of each list (headings case folded; the
// earlier heading of a list wins when a line names several), or none.
std::optional<ColumnLayout> FindColumns(std::string_view line, std::span<const std::string_view> first,
                                        std::span<const std::string_view> second);

// Stores the traffic rank a line gives: rankText must be a whole number from 1, host a valid
// host (empty when hostText names none: the line is skipped with hostReason). Counted in
// the report.
void PutRankFields(StoreWriter& store, std::int64_t number, std::string_view rankText, const std::string& host,
                   std::string_view hostText, std::string_view hostReason, ImportReport& report);
// Adds count to the run's total for the term the text names (StoreWriter::TallyKeyword), or
// skips the line with the reason it cannot be a term. Counted in the report.
void TallyTerm(StoreWriter& store, std::int64_t number, std::string_view text, std::int64_t count,
               ImportReport& report);

// Why an address cannot be a stored page's (ill-formed, not http:// or https://, too long,
// no usable host), with what to quote in *detail; empty when it can.
std::string PageAddressProblem(const std::string& url, std::string* detail);

// The store as a reader of one input writes to it. A write of content that the input has not
// verified yet (InputFile::Verified: a compressed member is checked only at its end) is made
// after a mark, so that a member found damaged stores nothing: Finish then undoes the writes
// since the mark and takes what the reader counted for them back out of the report. Marks
// and commits are not the reader's.
class GuardedStore : public StoreWriter {
 public:
  GuardedStore(StoreWriter& store, InputFile& input, ImportReport& report)
      : store_(store), input_(input), report_(report) {}

  // Where the content of the record about to be written ends.
  void SetRecordEnd(std::int64_t end) { recordEnd_ = end; }
  // At the end of the input: keeps every write, or undoes those made since the mark when the
  // content past the verified part is damaged.
  void Finish();

  Put PutKeyword(const std::string& term, std::int64_t searches) override;
  Put PutRank(const std::string& host, std::int64_t rank) override;
  bool AddPage(const PageInput& page) override;
  Merge MergePage(const PageInput& page) override;
  void TallyKeyword(const std::string& term, std::int64_t count) override;
  TallyResult StoreTally(std::int64_t multiply, std::int64_t divide) override;
  void Mark() override;
  void ReleaseMark() override;
  void RollBackToMark() override;
  void Commit() override;
  void RecordSource(const SourceRecord& source) override { store_.RecordSource(source); }
  bool HasSource(const std::string& address, std::int64_t firstLines) override {
    return store_.HasSource(address, firstLines);
  }

 private:
  void Before();
  Put Counted(Put put);

  StoreWriter& store_;
  InputFile& input_;
  ImportReport& report_;
  std::int64_t recordEnd_ = 0;
  bool marked_ = false;
  std::int64_t markedEnd_ = 0;  // the end of the last record written since the mark
  ImportReport since_;          // what the writes since the mark gave, as the reader counts it
};

// The lines of one input as a reader wants them: blank lines and overlong lines (skipped and
// counted in the report) left out, the cut last line of a file cut short too, progress
// reported, interruption honoured; and the store to write them to (GuardedStore).
class ImportLines {
 public:
  ImportLines(InputFile& input, StoreWriter& store, std::size_t maxLine, ImportReport& report,
              const ImportProgress& progress);

  StoreWriter& Store() { return store_; }
  // The next line that is not blank and not too long; false at the end of the file.
  bool Next(std::string_view* line);
  // The next CSV record (RFC 4180): the next line, joined by line feeds with the ones after
  // it while a quoted field runs on. A record longer than the line limit, or one whose quoted
  // field the file does not close, is skipped and counted. A separator of 0 is taken from
  // the first line (tab when it holds one, else ',') and given back.
  bool NextRecord(std::string_view* record, char* separator);
  // The number of the first line of the line or record read last.
  std::int64_t Number() const { return number_; }
  // At the end: notes damage of the input in the report, keeps or undoes what the store
  // was given (GuardedStore::Finish), reports the last progress.
  void Finish();

  // For readers of records that are more than lines: every line as it comes, blocks, and
  // progress reported when due (throws ImportInterrupted when it is refused). Such a reader
  // tells where each record it stores ends (EndRecord), after reading its last byte.
  LineReader& Lines() { return reader_; }
  void EndRecord() { store_.SetRecordEnd(reader_.Position()); }
  // For readers that hold lines back: where the content read so far ends, and where the
  // record about to be stored ended when it was read.
  std::int64_t Position() const { return reader_.Position(); }
  void SetRecordEnd(std::int64_t end) { store_.SetRecordEnd(end); }
  void ReportProgress();

 private:
  InputFile& input_;
  LineReader reader_;
  GuardedStore store_;
  std::size_t maxLine_;
  ImportReport& report_;
  const ImportProgress& progress_;
  std::int64_t reported_ = 0;
  std::int64_t number_ = 0;
  std::string record_;
};

}  // namespace quillet::services
