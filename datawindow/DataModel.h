#pragma once
// What the Quillet Data window knows, without a window: the database's state as
// `quillet-services status --progress-lines` tells it, the progress of the commands it runs
// as their event lines tell it (protocol/Lines.h), the sizes of open
// data it offers and the commands that get them, and the advice it gives. Portable: tested
// natively, used unchanged by the window.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Lines.h"

namespace quillet::data {

struct SourceRow {
  std::string at;  // UTC, "YYYY-MM-DD HH:MM:SS"
  std::string kind;
  std::int64_t stored = 0;
  std::int64_t bytes = 0;
  std::int64_t firstLines = 0;
  std::string address;
};

struct DatabaseStatus {
  std::string path;
  std::int64_t bytes = -1;  // -1: not there
  std::int64_t pages = 0, terms = 0, ranked = 0;
  std::string service = "unknown";  // running, stopped or unknown
  bool userData = false;            // holds imports, so that the demo data would replace them
  std::string kept;                 // the file kept from before the demo data, or empty
  std::int64_t keptBytes = -1;
  std::vector<SourceRow> sources;
  bool complete = false;  // its last line came
};

// Adds one line of `status --progress-lines` to status.
void ReadStatusLine(std::string_view line, DatabaseStatus* status);

// Holds the made-up demo data and nothing else: real data is then got into an emptied
// database, never mixed with it.
bool HoldsDemoOnly(const DatabaseStatus& status);

// Said plainly when the database cannot give a sound research: search volumes but no pages
// make every Supply 0 and every Profitability the Demand squared. Empty when all is well.
std::string Advice(const DatabaseStatus& status);

// The progress of a job of several commands (steps), told in their event lines. A step counts
// what it reads (bytes, or the demo data's pages), estimated until its own plan, or the plan
// a --plan step made for it, says; a step with nothing to count (stop, start, a plan) counts
// nothing. Done is what the lines said was read, also when a step fails or is cancelled, so
// the bars end where the job ended; a step that succeeds counts as whole. The time left is
// told only once every step's size is known from a server or a file, at the measured rate.
class JobProgress {
 public:
  // amounts: what each step is expected to read; -1 for a step that reads nothing counted.
  explicit JobProgress(std::vector<std::int64_t> amounts);

  void StartStep(std::size_t step);
  // One line of the current step.
  void Read(const protocol::Line& line);
  // A plan made for another step: its size is known now.
  void Plan(std::size_t step, std::int64_t amount);
  // The current step ended with this exit status.
  void StepEnded(int status);

  // Shares from 0 to 1.
  double FileShare() const;
  double JobShare() const;
  // "2/10 CC-MAIN-...-00001.warc.wet.gz"
  const std::string& FileText() const { return fileText_; }
  // "120 MB of 4.1 GB, 12.3 MB/s, 5 min left"
  std::string JobText() const;

 private:
  struct Step {
    std::int64_t total;  // -1: nothing counted
    bool known = false;  // total as a server or a file said it
    std::int64_t done = 0;
  };
  std::int64_t Sum(std::int64_t Step::*field) const;

  std::vector<Step> steps_;
  std::size_t step_ = 0;
  std::int64_t files_ = 0;
  std::int64_t fileDone_ = 0, fileTotal_ = 0;
  double rate_ = 0;
  std::string unit_ = protocol::kUnitBytes;
  std::string fileText_;
};

// A size of open data the window offers, and what getting it takes.
struct DataSize {
  std::string name;
  int crawlFiles;           // metadata files and as many text files of the newest crawl
  std::int64_t topDomains;  // of the web-graph rank list; 0: all
  std::int64_t downloadBytes;
  std::int64_t diskBytes;  // what the research database grows by
  // The bytes each command reads, in the order of GetCommands (for the progress of a job).
  std::vector<std::int64_t> stepBytes;
};
const std::vector<DataSize>& DataSizes();
// "Small: 5 crawl files, the best million domains, a day of pageviews (download about
// 3.3 GB, disk about 3.8 GB)"
std::string Describe(const DataSize& size);
// The quillet-services arguments of each command that gets the size, mirror (when not empty)
// in place of the publishers' hosts.
std::vector<std::vector<std::string>> GetCommands(const DataSize& size, const std::string& mirror);

// A command line as Windows programs split it (CommandLineToArgvW): each argument quoted when
// it holds a blank or a quote, backslashes before quotes doubled.
std::string CommandLine(const std::string& program, const std::vector<std::string>& args);

}  // namespace quillet::data
