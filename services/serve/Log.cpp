#include "services/serve/Log.h"

#include <chrono>
#include <ctime>

namespace quillet::services {

Log::Log(std::FILE* out, int linesPerSecond) : out_(out), linesPerSecond_(linesPerSecond) {}

void Log::Write(std::string_view text) {
  if (!out_) return;
  std::time_t now = std::time(nullptr);
  char stamp[32] = "";
  // Under the mutex: gmtime's buffer is shared.
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S UTC", utc);
  std::fprintf(out_, "%s %.*s\n", stamp, static_cast<int>(text.size()), text.data());
  std::fflush(out_);
}

void Log::Line(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  long long second =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
  if (second != second_) {
    second_ = second;
    lines_ = 0;
  }
  if (lines_ >= linesPerSecond_) {
    ++suppressed_;
    return;
  }
  ++lines_;
  if (suppressed_ > 0) {
    Write(std::to_string(suppressed_) + " more log lines suppressed (more than " + std::to_string(linesPerSecond_) +
          " a second)");
    suppressed_ = 0;
  }
  Write(text);
}

void Log::Count(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_[reason];
}

void Log::Summarize() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (suppressed_ > 0) {
    Write(std::to_string(suppressed_) + " more log lines suppressed (more than " + std::to_string(linesPerSecond_) +
          " a second)");
    suppressed_ = 0;
  }
  if (counts_.empty()) return;
  std::string line = "refused since the last summary:";
  for (const auto& [reason, count] : counts_) line += " " + std::to_string(count) + " " + reason + ";";
  line.pop_back();
  Write(line);
  counts_.clear();
}

}  // namespace quillet::services
