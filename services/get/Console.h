#pragma once
// What a run of `get`, `import` or `demo` tells as it goes, in two forms: a terminal's (one
// progress line redrawn in place: the file and the whole run, bytes, MB/s, time left; what
// each file stored as it comes) and, for a program that runs ours, one line per event:
//
//   plan<TAB>FILES<TAB>BYTES             the files of the run and their bytes (-1: unknown)
//   file<TAB>N<TAB>KIND<TAB>BYTES<TAB>NAME    file N (from 1) starts
//   progress<TAB>N<TAB>DONE<TAB>TOTAL<TAB>RUN_DONE<TAB>RUN_TOTAL<TAB>BYTES_PER_SECOND
//   stored<TAB>TEXT                      what a file or the run stored (one line each)
//   failed<TAB>TEXT                      a file or the run that failed, or a file skipped
//   note<TAB>TEXT                        a retry, a wait
//   done<TAB>STATUS                      the exit status, last
//
// Texts never hold a tab or a line end (paths cannot); lines are flushed as they are written.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "services/import/Run.h"

namespace quillet::services {

struct PlannedFile {
  std::string name;  // a path or an address
  std::string kind;
  std::int64_t bytes = -1;  // -1: unknown until it is read
};

class RunEvents {
 public:
  virtual ~RunEvents() = default;
  virtual void Plan(const std::vector<PlannedFile>& files) = 0;
  virtual void FileStarted(std::size_t index, const PlannedFile& file) = 0;
  // Bytes of the file and of the run; a total of -1 is unknown.
  virtual void Progress(std::size_t index, std::int64_t done, std::int64_t total, std::int64_t runDone,
                        std::int64_t runTotal, double bytesPerSecond) = 0;
  virtual void Stored(const std::string& text) = 0;
  virtual void Failed(const std::string& text) = 0;
  virtual void Note(const std::string& text) = 0;
  virtual void Finished(int status) = 0;
};

// Summaries to out, failures and notes to err, the progress line to err.
std::unique_ptr<RunEvents> TerminalEvents(std::FILE* out, std::FILE* err);
// One line per event to out.
std::unique_ptr<RunEvents> EventLines(std::FILE* out);

// Counts the progress of each file of a plan into the run's and turns RunImport's console
// into events. A file's bytes count as done once the next file starts or Finish is called,
// so that a file read only in part (a list's top) or skipped does not hold the run back.
class RunTracker {
 public:
  RunTracker(RunEvents& events, std::vector<PlannedFile> files);

  // RunImport's console for the files of the plan (matched by name, in plan order).
  RunConsole Console(std::function<std::string(const std::exception&)> explain);
  // The current file is over, read or not.
  void Finish();
  // The files from this one of the plan on are read again: what they counted no longer does.
  void Rewind(std::size_t index);
  RunEvents& Events() { return events_; }

 private:
  void Start(const std::string& name);
  bool Report(std::int64_t done, std::int64_t total);

  RunEvents& events_;
  std::vector<PlannedFile> files_;
  std::size_t next_ = 0;               // first file not started
  std::size_t current_ = SIZE_MAX;     // the file being read
  std::vector<std::int64_t> counted_;  // bytes each file over counts as done
  std::int64_t finishedBytes_ = 0;     // their sum
  std::int64_t currentDone_ = 0;
  std::int64_t moved_ = 0;  // bytes read in this run, restarts included, for the rate
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown_{};
};

}  // namespace quillet::services
