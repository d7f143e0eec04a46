#include "services/get/Console.h"

#include <algorithm>

#include "protocol/Format.h"
#include "protocol/Lines.h"

namespace quillet::services {
namespace {

using Clock = std::chrono::steady_clock;
using protocol::Event;

// Progress is shown at most this often; a file's last figures always are.
constexpr std::chrono::milliseconds kProgressEvery{250};
// A terminal shows no progress line for a run over sooner: it would only flicker.
constexpr std::chrono::seconds kTerminalQuiet{1};
// A log gets a progress line this often: enough to see a long transfer move, few enough to
// read the log.
constexpr std::chrono::seconds kLogProgressEvery{60};

// Each line of a text that may hold several (a file's summary and its skips).
template <typename Each>
void ForEachLine(const std::string& text, Each each) {
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    if (end > from) each(text.substr(from, end - from));
    from = end + 1;
  }
}

// The end of a long name, which tells files of one crawl apart.
std::string Tail(const std::string& name) {
  std::size_t slash = name.find_last_of("/\\");
  std::string tail = slash == std::string::npos ? name : name.substr(slash + 1);
  return tail.size() > 48 ? "..." + tail.substr(tail.size() - 45) : tail;
}

std::string Amount(std::int64_t amount, const std::string& unit) {
  return unit == protocol::kUnitBytes ? protocol::Bytes(amount) : protocol::Thousands(amount) + " " + unit;
}

class Terminal : public RunEvents {
 public:
  Terminal(std::FILE* out, std::FILE* err, bool redraw) : out_(out), err_(err), redraw_(redraw) {}
  ~Terminal() override { Clear(); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  void Plan(const std::vector<PlannedFile>& files, const char* unit) override {
    count_ = files.size();
    unit_ = unit;
  }
  void FileStarted(std::size_t index, const PlannedFile& file) override {
    index_ = index;
    name_ = Tail(file.name);
  }
  void Progress(std::size_t, std::int64_t done, std::int64_t total, std::int64_t runDone, std::int64_t runTotal,
                double perSecond) override {
    const auto now = Clock::now();
    if (now - start_ < kTerminalQuiet) return;
    if (!redraw_ && now - logged_ < kLogProgressEvery) return;
    logged_ = now;
    std::string line = "[" + std::to_string(index_ + 1) + "/" + std::to_string(count_) + "] " + name_ + "  " +
                       Amount(done, unit_) + (total > 0 ? " of " + Amount(total, unit_) : std::string());
    if (count_ > 1 && runTotal > 0) line += " | all " + Amount(runDone, unit_) + " of " + Amount(runTotal, unit_);
    if (perSecond > 0 && unit_ == protocol::kUnitBytes) {
      line += ", " + protocol::Rate(perSecond);
      if (runTotal > runDone)
        line += ", " + protocol::Duration(static_cast<double>(runTotal - runDone) / perSecond) + " left";
    }
    if (!redraw_) {
      Say(err_, line);
      return;
    }
    Clear();
    std::fputs(line.c_str(), err_);
    std::fflush(err_);
    shown_ = line.size();
  }
  void Stored(const std::string& text) override { Say(out_, text); }
  void Failed(const std::string& text, const std::string& advice) override {
    Say(err_, advice.empty() ? text : text + "\n  " + advice);
  }
  void Note(const std::string& text) override { Say(err_, text); }
  void Finished(int) override { Clear(); }

 private:
  void Clear() {
    if (shown_ == 0) return;
    std::fprintf(err_, "\r%*s\r", static_cast<int>(shown_), "");
    shown_ = 0;
  }
  void Say(std::FILE* to, const std::string& text) {
    Clear();
    std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
  }

  std::FILE* out_;
  std::FILE* err_;
  bool redraw_;
  std::size_t count_ = 0, index_ = 0, shown_ = 0;
  std::string name_;
  std::string unit_ = protocol::kUnitBytes;
  Clock::time_point start_ = Clock::now();
  Clock::time_point logged_{};
};

class Lines : public RunEvents {
 public:
  explicit Lines(std::FILE* out) : out_(out) {}

  void Plan(const std::vector<PlannedFile>& files, const char* unit) override {
    std::int64_t amount = 0;
    for (const PlannedFile& file : files)
      amount = file.bytes < 0 || amount < 0 ? -1 : protocol::AddSizes(amount, file.bytes);
    Line(Event::kPlan, {std::to_string(files.size()), std::to_string(amount), unit});
  }
  void FileStarted(std::size_t index, const PlannedFile& file) override {
    Line(Event::kFile, {std::to_string(index + 1), file.kind, std::to_string(file.bytes), file.name});
  }
  void Progress(std::size_t index, std::int64_t done, std::int64_t total, std::int64_t runDone, std::int64_t runTotal,
                double perSecond) override {
    Line(Event::kProgress,
         {std::to_string(index + 1), std::to_string(done), std::to_string(total), std::to_string(runDone),
          std::to_string(runTotal), std::to_string(static_cast<long long>(perSecond))});
  }
  void Stored(const std::string& text) override {
    ForEachLine(text, [&](const std::string& line) { Line(Event::kStored, {line}); });
  }
  void Failed(const std::string& text, const std::string& advice) override {
    // The advice goes with the first line, which says what happened.
    bool first = true;
    ForEachLine(text, [&](const std::string& line) {
      Line(Event::kFailed, {line, first ? advice : std::string()});
      first = false;
    });
  }
  void Note(const std::string& text) override {
    ForEachLine(text, [&](const std::string& line) { Line(Event::kNote, {line}); });
  }
  void Finished(int status) override { Line(Event::kDone, {std::to_string(status)}); }

 private:
  void Line(Event event, std::initializer_list<std::string> fields) {
    std::fprintf(out_, "%s\n", protocol::Encode(event, fields).c_str());
    std::fflush(out_);
  }

  std::FILE* out_;
};

}  // namespace

std::unique_ptr<RunEvents> TerminalEvents(std::FILE* out, std::FILE* err, bool redraw) {
  return std::make_unique<Terminal>(out, err, redraw);
}
std::unique_ptr<RunEvents> EventLines(std::FILE* out) { return std::make_unique<Lines>(out); }

RunTracker::RunTracker(RunEvents& events, std::vector<PlannedFile> files, const char* unit)
    : events_(events), files_(std::move(files)), over_(files_.size(), false) {
  for (const PlannedFile& file : files_) planned_.push_back(file.bytes);
  events_.Plan(files_, unit);
}

RunConsole RunTracker::Console(std::function<std::string(const std::exception&)> explain) {
  RunConsole console;
  console.said = [this](const std::string& text) { events_.Stored(text); };
  console.failed = [this](const std::string& text) { events_.Failed(text); };
  console.progress = [this](const std::string& name) -> ImportProgress {
    Start(name);
    return [this](std::int64_t done, std::int64_t total) { return Report(done, total); };
  };
  console.explain = std::move(explain);
  return console;
}

void RunTracker::Start(const std::string& name) {
  Finish();
  std::size_t index = next_;
  while (index < files_.size() && files_[index].name != name) ++index;
  if (index == files_.size()) {
    files_.push_back({name, {}, -1});
    planned_.push_back(-1);
    over_.push_back(false);
  }
  current_ = index;
  next_ = index + 1;
  currentDone_ = 0;
  events_.FileStarted(index, files_[index]);
}

void RunTracker::Finish() {
  if (current_ == SIZE_MAX) return;
  files_[current_].bytes = currentDone_;
  over_[current_] = true;
  current_ = SIZE_MAX;
}

void RunTracker::Rewind(std::size_t index) {
  Finish();
  for (std::size_t i = index; i < over_.size(); ++i) {
    if (planned_[i] == 0 && over_[i]) continue;  // dropped, or nothing to read
    over_[i] = false;
    files_[i].bytes = planned_[i];
  }
  next_ = std::min(index, next_);
}

void RunTracker::Drop(const std::string& name) {
  for (std::size_t i = 0; i < files_.size(); ++i)
    if (files_[i].name == name) {
      planned_[i] = files_[i].bytes = 0;
      over_[i] = true;
    }
}

std::int64_t RunTracker::RunDone() const {
  std::int64_t done = 0;
  for (std::size_t i = 0; i < files_.size(); ++i)
    if (over_[i]) done = protocol::AddSizes(done, files_[i].bytes);
  return current_ == SIZE_MAX ? done : protocol::AddSizes(done, currentDone_);
}

std::int64_t RunTracker::RunTotal() const {
  std::int64_t total = 0;
  for (const PlannedFile& file : files_) total = protocol::AddSizes(total, file.bytes);
  return std::max(total, RunDone());
}

bool RunTracker::Report(std::int64_t done, std::int64_t total) {
  if (current_ == SIZE_MAX) return true;
  PlannedFile& file = files_[current_];
  // What the plan says wins: a list read only to its top is planned at that part's size.
  if (file.bytes < 0 && total > 0) file.bytes = total;
  if (file.bytes > 0) total = file.bytes;
  // A reader's last word on a file of unknown size is (0, 0): what was read stays read.
  done = std::max(currentDone_, total > 0 ? std::min(done, total) : done);
  moved_ = protocol::AddSizes(moved_, done - currentDone_);
  currentDone_ = done;
  const auto now = Clock::now();
  if (now - shown_ < kProgressEvery && done != total) return true;
  shown_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  events_.Progress(current_, done, total, RunDone(), RunTotal(),
                   seconds > 0.5 ? static_cast<double>(moved_) / seconds : 0.0);
  return true;
}

}  // namespace quillet::services
