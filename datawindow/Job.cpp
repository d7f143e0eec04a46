#include "datawindow/Job.h"

#include <algorithm>
#include <utility>

#include "protocol/Format.h"
#include "protocol/Lines.h"

namespace quillet::data {
namespace {

using protocol::Event;

std::vector<std::int64_t> Amounts(const std::vector<Step>& steps) {
  std::vector<std::int64_t> amounts;
  for (const Step& step : steps) amounts.push_back(step.amount);
  return amounts;
}

Step Stop() {
  Step step;
  step.args = {"stop"};
  step.onDatabase = false;
  step.required = true;
  step.ifFailed = "the data service could not be stopped";
  return step;
}

Step Start(int undoes = -1) {
  Step step;
  step.program = Step::Program::kStarter;
  step.onDatabase = false;
  step.undoes = undoes;
  step.ifFailed = "the data service did not start: see quillet-services.log in the data folder";
  return step;
}

// A command on a database the data service may hold open: on Windows it is stopped around it
// (and started again whatever happens), since a file in use cannot be replaced.
std::vector<Step> WithServiceStopped(const DatabaseStatus& status, Step step) {
  const bool running = ServiceOf(status) == ServiceState::kRunning;
  std::vector<Step> steps;
  if (running) steps.push_back(Stop());
  steps.push_back(std::move(step));
  if (running) steps.push_back(Start(0));
  return steps;
}

// Each command planned first (--plan: the files to fetch and their sizes, nothing stored), so
// that a server that cannot be reached is said before anything changes and the job's size is
// known from the servers before its first byte; then each run, replacing the demo data alone
// with the first file stored.
std::vector<Step> PlannedGets(const std::vector<std::vector<std::string>>& commands,
                              const std::vector<std::int64_t>& amounts) {
  std::vector<Step> steps;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    Step plan;
    plan.args = commands[i];
    plan.args.push_back("--plan");
    plan.required = true;
    plan.plans = static_cast<int>(commands.size() + i);
    steps.push_back(std::move(plan));
  }
  for (std::size_t i = 0; i < commands.size(); ++i) {
    Step get;
    get.args = commands[i];
    get.args.push_back("--replace-demo");
    get.amount = amounts[i];
    steps.push_back(std::move(get));
  }
  return steps;
}

std::string Tail(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

}  // namespace

ServiceState ServiceOf(const DatabaseStatus& status) {
  if (status.service == "running") return ServiceState::kRunning;
  if (status.service == "stopped") return ServiceState::kStopped;
  return ServiceState::kUnknown;
}

std::string CommandFor(const Step& step, const Programs& programs) {
  if (step.program == Step::Program::kStarter) return CommandLine(programs.starter, {});
  std::vector<std::string> args = step.args;
  if (step.onDatabase) {
    if (!programs.database.empty()) args.insert(args.end(), {"--db", programs.database});
    args.push_back("--progress-lines");
  }
  return CommandLine(programs.services, args);
}

Job::Job(Kind kind, std::string title, std::vector<Step> steps)
    : kind_(kind),
      title_(std::move(title)),
      steps_(std::move(steps)),
      succeeded_(steps_.size(), false),
      progress_(Amounts(steps_)) {
  said_ = title_ + "...";
}

const Step* Job::Next() {
  if (running_) return &steps_[current_];
  while (next_ < steps_.size()) {
    const std::size_t index = next_++;
    const int undoes = steps_[index].undoes;
    if ((cancelled_ || failedRequired_) && (undoes < 0 || !succeeded_[static_cast<std::size_t>(undoes)])) continue;
    current_ = index;
    running_ = true;
    stepProblems_ = 0;
    unread_.clear();
    progress_.StartStep(index);
    return &steps_[index];
  }
  over_ = true;
  said_ = Outcome();
  return nullptr;
}

void Job::Read(std::string_view text) {
  if (!running_) return;
  const protocol::Line line = protocol::Decode(text);
  progress_.Read(line);
  const std::string& first = line.Text(0);
  switch (line.event) {
    case Event::kStored:
      stored_ = true;
      // A file's summary, not the lines of detail under it.
      if (!first.empty() && first.front() != ' ') said_ = first;
      break;
    case Event::kNote: said_ = first; break;
    case Event::kFailed:
      // The lines of detail under a failure belong to it.
      if (!first.empty() && first.front() == ' ' && stepProblems_ > 0) {
        problems_.back().what += "\n" + first;
      } else {
        problems_.push_back({first, line.Text(1)});
        ++stepProblems_;
        said_ = first;
      }
      break;
    case Event::kPlan:
      if (steps_[current_].plans >= 0) progress_.Plan(static_cast<std::size_t>(steps_[current_].plans), line.Number(1));
      break;
    case Event::kUnknown:
      if (!text.empty()) unread_.emplace_back(text);
      break;
    default: break;
  }
}

void Job::Ended(int exitCode, bool couldNotStart) {
  if (!running_) return;
  running_ = false;
  const Step& step = steps_[current_];
  if (couldNotStart) {
    const std::string program =
        step.program == Step::Program::kStarter ? "quillet-services-start.exe" : "quillet-services.exe";
    problems_.push_back({"cannot run " + program, "Install Quillet again: it belongs in the program folder."});
    exitCode = 1;
  } else if (exitCode != 0 && stepProblems_ == 0 && !cancelled_) {
    // A command that failed without saying why in its lines: what it wrote instead.
    std::string what = step.ifFailed;
    if (what.empty()) {
      for (const std::string& line : unread_) what += (what.empty() ? "" : "\n") + line;
      if (what.empty())
        what = "quillet-services " + step.args.front() + " failed (exit code " + std::to_string(exitCode) + ")";
    }
    problems_.push_back({what, {}});
  }
  progress_.StepEnded(exitCode);
  succeeded_[current_] = exitCode == 0;
  if (exitCode != 0 && !cancelled_) {
    status_ = 1;
    failedRequired_ = failedRequired_ || step.required;
  }
}

void Job::Cancel() { cancelled_ = true; }

bool Job::TakeStored() { return std::exchange(stored_, false); }

std::string Job::Outcome() const {
  if (cancelled_) {
    switch (kind_) {
      case Kind::kGet:
        return title_ + ": cancelled. What was stored stays, and getting the same data again goes on from there.";
      case Kind::kImport: return title_ + ": cancelled. The files imported before the one under way stay stored.";
      case Kind::kDemo:
      case Kind::kService: return title_ + ": cancelled.";
    }
  }
  if (status_ == 0 && problems_.empty()) return title_ + ": done.";
  return title_ + ": finished with " +
         protocol::Counted(static_cast<std::int64_t>(std::max<std::size_t>(1, problems_.size())), "problem") + ".";
}

std::string Job::Report() const {
  std::string report = Outcome();
  auto crlf = [](const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
  };
  for (const Problem& problem : problems_) {
    report += "\r\n\r\n" + crlf(problem.what);
    if (!problem.advice.empty()) report += "\r\n" + crlf(problem.advice);
  }
  return report;
}

Job GetJob(const DataSize& size, const std::string& mirror) {
  return Job(Job::Kind::kGet, "Getting " + size.name + " open data",
             PlannedGets(GetCommands(size, mirror), size.stepBytes));
}

Job CrawlJob(int crawlFiles, const std::string& mirror) {
  DataSize pages = DataSizes().front();
  pages.crawlFiles = crawlFiles;
  return Job(Job::Kind::kGet, "Getting crawl pages",
             PlannedGets({GetCommands(pages, mirror).front()}, {pages.stepBytes.front()}));
}

Job ImportJob(const std::vector<std::string>& files, std::int64_t bytes) {
  Step step;
  step.args = {"import", "auto"};
  step.args.insert(step.args.end(), files.begin(), files.end());
  step.args.push_back("--replace-demo");
  step.amount = bytes;
  return Job(Job::Kind::kImport, "Importing " + protocol::Counted(static_cast<std::int64_t>(files.size()), "file"),
             {step});
}

Job RestoreDemoJob(const DatabaseStatus& status) {
  Step demo;
  demo.args = {"demo"};
  // What someone imported is kept aside, never lost by a click (the window asks first).
  if (status.userData) demo.args.push_back("--replace");
  demo.required = true;
  demo.amount = 0;  // its pages, once it plans
  return Job(Job::Kind::kDemo, "Restoring the demo data", WithServiceStopped(status, demo));
}

Job TakeBackJob(const DatabaseStatus& status) {
  Step back;
  back.args = {"demo", "--take-back"};
  back.required = true;
  return Job(Job::Kind::kDemo, "Taking back " + Tail(status.kept), WithServiceStopped(status, back));
}

Job ServiceJob(const DatabaseStatus& status) {
  if (ServiceOf(status) == ServiceState::kRunning)
    return Job(Job::Kind::kService, "Stopping the data service", {Stop()});
  return Job(Job::Kind::kService, "Starting the data service", {Start()});
}

std::string KeptText(const DatabaseStatus& status) {
  if (status.kept.empty()) return {};
  std::string text = "Kept from before the demo data: " + Tail(status.kept);
  if (status.keptBytes >= 0) text += " (" + protocol::Bytes(status.keptBytes) + ")";
  return text + ", until you next log on or take it back.";
}

}  // namespace quillet::data
