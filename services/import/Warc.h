#pragma once
// The records of a web archive (WARC/1.0) file, as the crawl text and crawl metadata readers
// want them: a "WARC/1.x" line, header lines up to a blank line, a block of Content-Length
// bytes, then two line ends (CR LF or LF). Gzip members may split records anywhere (the
// input layer joins them). A record the reader cannot trust (no length, a length that runs
// past the record or falls short of it, a header cut off) is skipped and counted by reason,
// and reading goes on at the next line that starts "WARC/1.", so no other record is lost.
#include <cstdint>
#include <string>
#include <string_view>

#include "services/import/ReaderKit.h"
#include "services/import/Report.h"

namespace quillet::services {

struct WarcRecord {
  std::int64_t number = 0;  // in the file, from 1
  std::string type;         // WARC-Type
  std::string target;       // WARC-Target-URI, without angle brackets
  std::int64_t length = 0;  // Content-Length
  std::string block;        // its first bytes, at most the keep given to WarcRecords
};

// A record type as a report may name it: one the format defines, or "other" (a file cannot
// make a report list types without end).
std::string WarcTypeOf(std::string_view type);
// How a report names records of a type ("metadata records"), those it stores or leaves out.
std::string RecordsOfType(std::string_view type);

// Hands a page of a crawl archive to the store (StoreWriter::MergePage) and counts in the
// report what became of it.
void MergeArchivePage(StoreWriter& store, const PageInput& page, std::int64_t record, ImportReport& report);

class WarcRecords {
 public:
  // Reports count records ("record 12"). Records of another type than wanted are left out
  // (counted by type in the report).
  WarcRecords(InputFile& input, StoreWriter& store, std::string_view wanted, std::size_t keep, ImportReport& report,
              const ImportProgress& progress);

  // The next whole record of the wanted type; false at the end of the file.
  bool Next(WarcRecord* record);
  // Where to store the records (ImportLines::Store).
  StoreWriter& Store() { return lines_.Store(); }
  // At the end: notes damage of the input, reports the last progress.
  void Finish() { lines_.Finish(); }

 private:
  // Reads up to the next record's first line; false at the end.
  bool FindStart();
  enum class Header { kGood, kBad, kEndOfFile };
  // The header of the current record; the reason in *problem when it cannot be used.
  Header ReadHeader(WarcRecord* record, std::string* problem);
  void Skip(std::string_view reason);

  ImportReport& report_;
  ImportLines lines_;
  std::string wanted_;
  std::size_t keep_;
  std::int64_t number_ = 0;
  bool atStart_ = false;   // the next record's first line has been read already
  bool skipping_ = false;  // passing over the rest of a skipped record
};

}  // namespace quillet::services
