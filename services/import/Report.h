#pragma once
// What an import made of a file: records stored, and records skipped by reason, so that a
// line the reader cannot use is counted and named, and never costs the other lines.
#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "services/store/Store.h"

namespace quillet::services {

// Why a record is skipped, as the report names it. Each reason is one of these constants
// (or made by one of the functions below), so that no reason is ever spelt twice.
namespace skip {
inline constexpr std::string_view kLineTooLong = "line too long";
inline constexpr std::string_view kTooManyFields = "too many fields";
inline constexpr std::string_view kTooFewFields = "too few fields";
inline constexpr std::string_view kTooFewColumns = "too few columns";
inline constexpr std::string_view kNotRankAndDomain = "not two fields, rank and domain";
inline constexpr std::string_view kNotFourFields = "not four fields";
inline constexpr std::string_view kSearchCount = "search count not a whole number from 0 to 2147483647";
inline constexpr std::string_view kImpressions = "impressions not a whole number from 0 to 2147483647";
inline constexpr std::string_view kViewCount = "view count not a whole number from 0 to 2147483647";
inline constexpr std::string_view kRank = "rank not a whole number from 1 to 2147483647";
inline constexpr std::string_view kNotAHostName = "not a host name";
inline constexpr std::string_view kNotADomainName = "not a domain name";
inline constexpr std::string_view kNoSearchConsoleHeader = "no header with a query and an impressions column";
inline constexpr std::string_view kNoKeywordHeader = "no header with a term and a search volume column";
inline constexpr std::string_view kNoVolume = "no search volume (blank)";
inline constexpr std::string_view kLineCutShort = "line cut short by the end of the file";
inline constexpr std::string_view kQuoteNotClosed = "quoted field not closed by the end of the file";
inline constexpr std::string_view kNotAPageRecord = "not a page record";
inline constexpr std::string_view kTooManyLinks = "too many links";
inline constexpr std::string_view kAlreadyStored = "address already stored";
inline constexpr std::string_view kUrlNotHttp = "url not http:// or https://";
inline constexpr std::string_view kUrlTooLong = "url too long";
inline constexpr std::string_view kUrlWithoutHost = "url has no usable host name";
inline constexpr std::string_view kMetadataTooLong = "metadata record too long";
inline constexpr std::string_view kNotJson = "not well-formed JSON";
inline constexpr std::string_view kNoPageAddress = "no page address (WARC-Target-URI)";
inline constexpr std::string_view kTextBeforeRecord = "text outside a record, before it";
inline constexpr std::string_view kTextAtEnd = "text outside a record, at the end";
inline constexpr std::string_view kRecordCutShort = "record cut short by the end of the file";
inline constexpr std::string_view kHeaderLineTooLong = "header line too long";
inline constexpr std::string_view kHeaderCutShort = "header cut short";
inline constexpr std::string_view kNoContentLength = "no valid Content-Length";
inline constexpr std::string_view kLengthRunsPast = "Content-Length runs past the end of the record";
inline constexpr std::string_view kLengthFallsShort = "Content-Length falls short of the end of the record";
// Reasons that name a bound or a column.
std::string TooManyHeaderLines();
std::string HeaderWithout(std::string_view rankHeading);
// A reason of the text rules (KeyProblem, NormalizeTerm) about an address.
std::string InUrl(std::string_view problem);
}  // namespace skip

struct ImportReport {
  std::string unit = "line";       // what the file is made of: lines, or records of several lines
  std::string wanted;              // the records stored from it, for messages ("conversion records"); empty: units
  std::int64_t lines = 0;          // records looked at (blank lines and headers not counted)
  std::int64_t added = 0;          // new records
  std::int64_t replaced = 0;       // records that replaced an earlier one with the same key
  std::int64_t kept = 0;           // records whose key this import had given a better value already (ranks)
  std::int64_t updated = 0;        // records that added to a stored page (StoreWriter::MergePage)
  std::int64_t ranges = 0;         // search volumes given as ranges, stored as their middle
  bool sums = false;               // the reader adds counts to the run's totals instead of storing
  std::int64_t summed = 0;         // records whose counts went into the run's totals (TallyKeyword)
  std::int64_t linksDropped = 0;   // links to addresses without a usable host, left out
  std::int64_t alreadyStored = 0;  // pages whose address was stored already (also skipped)
  std::map<std::string, std::int64_t> skipped;  // by reason
  // Records not meant for this import (another project, the archive's own description):
  // not counted as lines, not problems.
  std::map<std::string, std::int64_t> leftOut;
  std::vector<std::string> examples;  // "line 12: reason (detail)", the first few
  std::vector<std::string> warnings;  // how the file was read where it was not as expected
  std::string damage;                 // why the input ended before the file did, or empty
  std::int64_t rolledBack = 0;        // records stored from a damaged compressed member, undone
  std::int64_t stoppedAt = 0;         // records read when told to stop there (ImportSettings::top); 0: all
  static constexpr size_t kMaxExamples = 50;

  void Skip(std::int64_t line, std::string_view reason, std::string_view detail = {});
  // A page whose address is stored already: skipped, and not held against the file.
  void AlreadyStored(std::int64_t line, std::string_view url);
  // Counts what the store made of a record (added, replaced, kept).
  void Count(StoreWriter::Put put);
  // Takes back what other counted of records whose writes were undone, as rolled back.
  void TakeBack(const ImportReport& other);
  std::int64_t Skipped() const;
  // Nothing of the file was stored (pages already stored count as stored: nothing was lost).
  bool NothingStored() const;
  // A few lines for people: counts, skips by reason, the first examples, damage.
  std::string Describe() const;
};

// Text safe to quote in a report line: repaired and shortened.
std::string Quoted(std::string_view text);

// Called now and then with the bytes of the file consumed so far and its size. Returning
// false interrupts the import: it throws ImportInterrupted.
using ImportProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

class ImportInterrupted : public std::runtime_error {
 public:
  ImportInterrupted() : std::runtime_error("import interrupted") {}
};

}  // namespace quillet::services
