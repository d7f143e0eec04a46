#pragma once
// What a run of `get`, `import` or `demo` tells as it goes, in three forms: a terminal's (one
// progress line redrawn in place: the file and the whole run, bytes, MB/s, time left; what
// each file stored as it comes), a log's (the same lines, the progress one now and then and
// never redrawn, since a file or a pipe keeps every character), and, for a program that runs
// ours, one line per event as protocol/Lines.h describes them.
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
  // unit: protocol::kUnitBytes, or kUnitPages for the demo data.
  virtual void Plan(const std::vector<PlannedFile>& files, const char* unit) = 0;
  virtual void FileStarted(std::size_t index, const PlannedFile& file) = 0;
  // Bytes of the file and of the run; a total of -1 is unknown.
  virtual void Progress(std::size_t index, std::int64_t done, std::int64_t total, std::int64_t runDone,
                        std::int64_t runTotal, double bytesPerSecond) = 0;
  virtual void Stored(const std::string& text) = 0;
  // advice: what the user can do about it, or empty.
  virtual void Failed(const std::string& text, const std::string& advice) = 0;
  void Failed(const std::string& text) { Failed(text, {}); }
  virtual void Note(const std::string& text) = 0;
  virtual void Finished(int status) = 0;
};

// Summaries to out, failures and notes to err, the progress line to err: redrawn in place
// when err is a terminal, else written as a line of its own now and then.
std::unique_ptr<RunEvents> TerminalEvents(std::FILE* out, std::FILE* err, bool redraw);
// One line per event to out.
std::unique_ptr<RunEvents> EventLines(std::FILE* out);

// Counts the progress of each file of a plan into the run's and turns RunImport's console
// into events. A file that is over counts as what was read of it, in the run's total too, so
// that a file read only in part (a list's top) or skipped neither holds the run back nor
// shows as done when it was not. Amounts are summed without overflow, whatever a server
// declared.
class RunTracker {
 public:
  RunTracker(RunEvents& events, std::vector<PlannedFile> files, const char* unit = "bytes");

  // RunImport's console for the files of the plan (matched by name, in plan order).
  RunConsole Console(std::function<std::string(const std::exception&)> explain);
  // The current file is over, read or not.
  void Finish();
  // The files from this one of the plan on are read again: what they counted no longer does.
  void Rewind(std::size_t index);
  // The file of the plan so named will not be read: it counts as nothing, in the total too.
  void Drop(const std::string& name);
  RunEvents& Events() { return events_; }
  // What the run has done and holds in all, as the last progress event said them.
  std::int64_t RunDone() const;
  std::int64_t RunTotal() const;

 private:
  void Start(const std::string& name);
  bool Report(std::int64_t done, std::int64_t total);

  RunEvents& events_;
  std::vector<PlannedFile> files_;  // bytes: as planned, or what a file over held
  std::vector<std::int64_t> planned_;
  std::vector<bool> over_;
  std::size_t next_ = 0;            // first file not started
  std::size_t current_ = SIZE_MAX;  // the file being read
  std::int64_t currentDone_ = 0;
  std::int64_t moved_ = 0;  // bytes read in this run, restarts included, for the rate
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown_{};
};

}  // namespace quillet::services
