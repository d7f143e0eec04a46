#pragma once
// The service's log: a line for each store failure, refusal of note and damaged database
// file, with the time and the cause, written to a stream (standard error; on Windows the
// hidden starter appends it to its log file). Normal requests write nothing. Bounded in rate:
// past linesPerSecond lines in one second the rest of that second's lines are only counted,
// and their number is written before the next line that gets through. Routine refusals
// (a full queue, evictions at the connection cap, malformed requests) are only counted, and
// Summarize writes the counts as one line. Safe to use from several threads at once.
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "services/Limits.h"

namespace quillet::services {

class Log {
 public:
  // out must outlive the log; null writes nothing.
  explicit Log(std::FILE* out, int linesPerSecond = limits::kLogLinesPerSecond);

  void Line(std::string_view text);
  void Count(const std::string& reason);
  // Writes the counts gathered since the last summary (nothing when there are none).
  void Summarize();

 private:
  void Write(std::string_view text);  // with the mutex held

  std::mutex mutex_;
  std::FILE* out_;
  const int linesPerSecond_;
  long long second_ = 0;  // the second the lines are counted in
  int lines_ = 0;
  long long suppressed_ = 0;
  std::map<std::string, long long> counts_;
};

}  // namespace quillet::services
