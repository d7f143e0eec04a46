#pragma once
// A job of the Quillet Data window without the window: the commands (steps) it is made of,
// run one after another as child processes, their lines read into its progress and its
// problems, what Cancel leaves to run, and what it says at its end. The form runs the step
// Next() gives, hands every line of it to Read and its exit to Ended, and shows what the job
// says. Portable: tested natively in tables.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "datawindow/DataModel.h"

namespace quillet::data {

enum class ServiceState { kUnknown, kRunning, kStopped };
ServiceState ServiceOf(const DatabaseStatus& status);

// One command of a job.
struct Step {
  enum class Program { kServices, kStarter };
  Program program = Program::kServices;
  std::vector<std::string> args;  // quillet-services arguments
  bool onDatabase = true;         // takes the database and writes event lines (`stop` does neither)
  bool required = false;          // when it fails, the steps after it do not run (but undoing steps)
  int undoes = -1;                // undoes that step (starting the service it stopped): runs once that one
                                  // succeeded, also after Cancel or a failure
  std::int64_t amount = -1;       // what it is expected to read; -1: nothing counted
  int plans = -1;                 // a --plan step: the step whose size its plan tells
  std::string ifFailed;           // said when it fails without saying why
};

// Where the window finds what it runs, and what it passes on.
struct Programs {
  std::string services;  // quillet-services.exe
  std::string starter;   // quillet-services-start.exe
  std::string database;  // --db for every command on the database; empty: the service's own default
};

// The command line of a step.
std::string CommandFor(const Step& step, const Programs& programs);

// A problem of a job, in full: what happened (the file, if any, first) and what the user can
// do about it (empty when nothing).
struct Problem {
  std::string what;
  std::string advice;
};

class Job {
 public:
  // kGet: a job that gets data, which goes on from where it was stopped when run again.
  enum class Kind { kGet, kImport, kDemo, kService };
  Job(Kind kind, std::string title, std::vector<Step> steps);

  const std::string& Title() const { return title_; }
  // The step to run now, or null once the job is over. After Cancel or a failed required
  // step, only the steps that undo what succeeded are left.
  const Step* Next();
  // A line the current step wrote.
  void Read(std::string_view line);
  // The current step ended with this exit code; couldNotStart: it did not start at all.
  void Ended(int exitCode, bool couldNotStart = false);
  void Cancel();
  bool Cancelled() const { return cancelled_; }
  bool Over() const { return over_; }

  const JobProgress& Progress() const { return progress_; }
  // Whether the database changed since the last call (a file was stored): the window reads
  // its state again.
  bool TakeStored();
  // What the status bar says now: the last summary a step gave, or the job's outcome.
  const std::string& Said() const { return said_; }
  // At its end: "Getting Small open data: done.", "...: cancelled. ...", "...: finished with
  // 2 problems."
  std::string Outcome() const;
  // Every problem of the job, in the order they came.
  const std::vector<Problem>& Problems() const { return problems_; }
  // The outcome and every problem in full, for the window's results area.
  std::string Report() const;

 private:
  Kind kind_;
  std::string title_;
  std::vector<Step> steps_;
  std::vector<bool> succeeded_;
  std::size_t next_ = 0;     // the step Next gives
  std::size_t current_ = 0;  // the step running
  bool running_ = false;
  bool cancelled_ = false;
  bool failedRequired_ = false;
  bool over_ = false;
  bool stored_ = false;
  JobProgress progress_;
  std::vector<Problem> problems_;
  std::size_t stepProblems_ = 0;     // problems of the current step
  std::vector<std::string> unread_;  // lines of the current step that were no event
  int status_ = 0;
  std::string said_;
};

// The jobs of the window's buttons, for the database as status tells it.
Job GetJob(const DataSize& size, const std::string& mirror);
Job CrawlJob(int crawlFiles, const std::string& mirror);
Job ImportJob(const std::vector<std::string>& files, std::int64_t bytes);
Job RestoreDemoJob(const DatabaseStatus& status);
Job TakeBackJob(const DatabaseStatus& status);
Job ServiceJob(const DatabaseStatus& status);

// What the window says about the file kept from before the demo data, or empty when there
// is none.
std::string KeptText(const DatabaseStatus& status);

}  // namespace quillet::data
