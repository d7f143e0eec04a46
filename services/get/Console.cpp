#include "services/get/Console.h"

#include <algorithm>

#include "services/get/Download.h"

namespace quillet::services {
namespace {

using Clock = std::chrono::steady_clock;

// Progress is shown at most this often; a file's last figures always are.
constexpr std::chrono::milliseconds kProgressEvery{250};
// A terminal shows no progress line for a run over sooner: it would only flicker.
constexpr std::chrono::seconds kTerminalQuiet{1};

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

std::string Duration(double seconds) {
  char text[32];
  if (seconds < 90) std::snprintf(text, sizeof text, "%.0f s", seconds);
  else if (seconds < 5400) std::snprintf(text, sizeof text, "%.0f min", seconds / 60);
  else std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
  return text;
}

// The end of a long name, which tells files of one crawl apart.
std::string Tail(const std::string& name) {
  std::size_t slash = name.find_last_of("/\\");
  std::string tail = slash == std::string::npos ? name : name.substr(slash + 1);
  return tail.size() > 48 ? "..." + tail.substr(tail.size() - 45) : tail;
}

class Terminal : public RunEvents {
 public:
  Terminal(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}
  ~Terminal() override { Clear(); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  void Plan(const std::vector<PlannedFile>& files) override { count_ = files.size(); }
  void FileStarted(std::size_t index, const PlannedFile& file) override {
    index_ = index;
    name_ = Tail(file.name);
  }
  void Progress(std::size_t, std::int64_t done, std::int64_t total, std::int64_t runDone, std::int64_t runTotal,
                double bytesPerSecond) override {
    if (Clock::now() - start_ < kTerminalQuiet) return;
    std::string line = "[" + std::to_string(index_ + 1) + "/" + std::to_string(count_) + "] " + name_ + "  " +
                       Megabytes(done) + (total > 0 ? " of " + Megabytes(total) : std::string());
    if (count_ > 1 && runTotal > 0) line += " | all " + Megabytes(runDone) + " of " + Megabytes(runTotal);
    if (bytesPerSecond > 0) {
      char rate[32];
      std::snprintf(rate, sizeof rate, ", %.1f MB/s", bytesPerSecond / 1e6);
      line += rate;
      if (runTotal > runDone)
        line += ", " + Duration(static_cast<double>(runTotal - runDone) / bytesPerSecond) + " left";
    }
    Clear();
    std::fputs(line.c_str(), err_);
    std::fflush(err_);
    shown_ = line.size();
  }
  void Stored(const std::string& text) override { Say(out_, text); }
  void Failed(const std::string& text) override { Say(err_, text); }
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
  std::size_t count_ = 0, index_ = 0, shown_ = 0;
  std::string name_;
  Clock::time_point start_ = Clock::now();
};

class Lines : public RunEvents {
 public:
  explicit Lines(std::FILE* out) : out_(out) {}

  void Plan(const std::vector<PlannedFile>& files) override {
    std::int64_t bytes = 0;
    for (const PlannedFile& file : files) bytes = file.bytes < 0 || bytes < 0 ? -1 : bytes + file.bytes;
    Line({"plan", std::to_string(files.size()), std::to_string(bytes)});
  }
  void FileStarted(std::size_t index, const PlannedFile& file) override {
    Line({"file", std::to_string(index + 1), file.kind, std::to_string(file.bytes), file.name});
  }
  void Progress(std::size_t index, std::int64_t done, std::int64_t total, std::int64_t runDone, std::int64_t runTotal,
                double bytesPerSecond) override {
    Line({"progress", std::to_string(index + 1), std::to_string(done), std::to_string(total), std::to_string(runDone),
          std::to_string(runTotal), std::to_string(static_cast<long long>(bytesPerSecond))});
  }
  void Stored(const std::string& text) override { Each("stored", text); }
  void Failed(const std::string& text) override { Each("failed", text); }
  void Note(const std::string& text) override { Each("note", text); }
  void Finished(int status) override { Line({"done", std::to_string(status)}); }

 private:
  void Each(const char* event, const std::string& text) {
    ForEachLine(text, [&](std::string line) { Line({event, line}); });
  }
  void Line(std::initializer_list<std::string> fields) {
    std::string line;
    for (std::string field : fields) {
      std::replace(field.begin(), field.end(), '\t', ' ');
      std::replace(field.begin(), field.end(), '\r', ' ');
      line += (line.empty() ? "" : "\t") + field;
    }
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
  }

  std::FILE* out_;
};

}  // namespace

std::unique_ptr<RunEvents> TerminalEvents(std::FILE* out, std::FILE* err) {
  return std::make_unique<Terminal>(out, err);
}
std::unique_ptr<RunEvents> EventLines(std::FILE* out) { return std::make_unique<Lines>(out); }

RunTracker::RunTracker(RunEvents& events, std::vector<PlannedFile> files)
    : events_(events), files_(std::move(files)), counted_(files_.size(), 0) {
  events_.Plan(files_);
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
    counted_.push_back(0);
  }
  current_ = index;
  next_ = index + 1;
  currentDone_ = 0;
  events_.FileStarted(index, files_[index]);
}

void RunTracker::Finish() {
  if (current_ == SIZE_MAX) return;
  counted_[current_] = std::max(files_[current_].bytes, currentDone_);
  finishedBytes_ += counted_[current_];
  current_ = SIZE_MAX;
}

void RunTracker::Rewind(std::size_t index) {
  Finish();
  for (std::size_t i = index; i < counted_.size(); ++i) {
    finishedBytes_ -= counted_[i];
    counted_[i] = 0;
  }
  next_ = std::min(index, next_);
}

bool RunTracker::Report(std::int64_t done, std::int64_t total) {
  if (current_ == SIZE_MAX) return true;
  PlannedFile& file = files_[current_];
  // What the plan says wins: a list read only to its top is planned at that part's size.
  if (file.bytes < 0 && total > 0) file.bytes = total;
  if (file.bytes > 0) total = file.bytes;
  done = total > 0 ? std::min(done, total) : done;
  moved_ += std::max<std::int64_t>(0, done - currentDone_);
  currentDone_ = done;
  const auto now = Clock::now();
  if (now - shown_ < kProgressEvery && done != total) return true;
  shown_ = now;
  std::int64_t runTotal = 0;
  for (const PlannedFile& planned : files_) runTotal += std::max<std::int64_t>(planned.bytes, 0);
  const double seconds = std::chrono::duration<double>(now - start_).count();
  events_.Progress(current_, done, total, finishedBytes_ + done, runTotal,
                   seconds > 0.5 ? static_cast<double>(moved_) / seconds : 0.0);
  return true;
}

}  // namespace quillet::services
