#include "datawindow/DataModel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace quillet::data {
namespace {

// What the publishers' files weigh, gzipped, for the sizes offered before anything is asked
// of a server: a crawl's metadata and text files, an hour of pageviews, a line of a rank list.
constexpr std::int64_t kMetadataFile = 250'000'000;
constexpr std::int64_t kTextFile = 100'000'000;
constexpr std::int64_t kPageviewHour = 65'000'000;
constexpr std::int64_t kRankLine = 16;
constexpr std::int64_t kAllRankLines = 120'000'000;
// What the research database grows by per byte read: crawl text and its index twice its
// size, metadata and a day of pageview sums about their size, rank lists twice.
constexpr double kTextGrowth = 2.0, kMetadataGrowth = 1.0, kPageviewGrowth = 1.0, kRankGrowth = 2.0;

std::int64_t Number(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

std::string Tail(const std::string& name) {
  std::size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string Duration(double seconds) {
  char text[32];
  if (seconds < 90) std::snprintf(text, sizeof text, "%.0f s", seconds);
  else if (seconds < 5400) std::snprintf(text, sizeof text, "%.0f min", seconds / 60);
  else std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
  return text;
}

DataSize MakeSize(std::string name, int crawlFiles, std::int64_t topDomains) {
  const std::int64_t rankLines = topDomains > 0 ? topDomains : kAllRankLines;
  const std::int64_t crawl = crawlFiles * (kMetadataFile + kTextFile);
  const std::int64_t ranks = rankLines * kRankLine;
  const std::int64_t views = 24 * kPageviewHour;
  const double disk = static_cast<double>(crawlFiles) * (kMetadataFile * kMetadataGrowth + kTextFile * kTextGrowth) +
                      static_cast<double>(ranks) * kRankGrowth + static_cast<double>(views) * kPageviewGrowth;
  return {std::move(name),      crawlFiles, topDomains, crawl + ranks + views, static_cast<std::int64_t>(disk),
          {crawl, ranks, views}};
}

}  // namespace

std::vector<std::string> Fields(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  while (true) {
    std::size_t tab = line.find('\t', from);
    fields.emplace_back(line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from));
    if (tab == std::string_view::npos) return fields;
    from = tab + 1;
  }
}

void ReadStatusLine(std::string_view line, DatabaseStatus* status) {
  std::vector<std::string> f = Fields(line);
  const std::string& event = f[0];
  if (event == "database" && f.size() >= 3) {
    status->path = f[1];
    status->bytes = Number(f[2]);
  } else if (event == "counts" && f.size() >= 4) {
    status->pages = Number(f[1]);
    status->terms = Number(f[2]);
    status->ranked = Number(f[3]);
  } else if (event == "service" && f.size() >= 2) {
    status->service = f[1];
  } else if (event == "userdata" && f.size() >= 2) {
    status->userData = f[1] == "1";
  } else if (event == "kept" && f.size() >= 2) {
    status->kept = f[1];
  } else if (event == "source" && f.size() >= 7) {
    status->sources.push_back({f[1], f[2], Number(f[3]), Number(f[4]), Number(f[5]), f[6]});
  } else if (event == "done") {
    status->complete = true;
  }
}

bool HoldsDemoOnly(const DatabaseStatus& status) {
  return !status.userData && std::any_of(status.sources.begin(), status.sources.end(),
                                         [](const SourceRow& source) { return source.kind == "demo"; });
}

std::string Advice(const DatabaseStatus& status) {
  if (status.terms == 0 || status.pages > 0) return {};
  return "This database has search volumes but no pages: every Supply will be 0 and every Profitability "
         "the Demand squared. Get crawl pages to count how many pages serve each term.";
}

JobProgress::JobProgress(std::vector<std::int64_t> estimates) {
  for (std::int64_t bytes : estimates) steps_.push_back({std::max<std::int64_t>(bytes, 1)});
}

void JobProgress::StartStep(std::size_t step) {
  step_ = std::min(step, steps_.size() - 1);
  fileDone_ = fileTotal_ = files_ = 0;
  fileText_.clear();
}

void JobProgress::Read(std::string_view line) {
  if (steps_.empty()) return;
  Step& step = steps_[step_];
  std::vector<std::string> f = Fields(line);
  const std::string& event = f[0];
  if (event == "plan" && f.size() >= 3) {
    files_ = Number(f[1]);
    if (Number(f[2]) > 0) step.total = Number(f[2]);
  } else if (event == "file" && f.size() >= 5) {
    fileDone_ = 0;
    fileTotal_ = Number(f[3]);
    fileText_ = f[1] + "/" + std::to_string(files_) + " " + Tail(f[4]);
  } else if (event == "progress" && f.size() >= 7) {
    fileDone_ = Number(f[2]);
    fileTotal_ = Number(f[3]);
    step.done = Number(f[4]);
    if (Number(f[5]) > 0) step.total = Number(f[5]);
    rate_ = static_cast<double>(Number(f[6]));
  } else if ((event == "stored" || event == "note") && f.size() >= 2) {
    messages_.push_back(f[1]);
  } else if (event == "failed" && f.size() >= 2) {
    messages_.push_back(f[1]);
    lastFailure_ = f[1];
  } else if (event == "done" && f.size() >= 2) {
    step.done = step.total;
    fileDone_ = fileTotal_;
    status_ = std::max(status_, static_cast<int>(Number(f[1])));
  }
}

double JobProgress::FileShare() const {
  return fileTotal_ > 0 ? std::min(1.0, static_cast<double>(fileDone_) / static_cast<double>(fileTotal_)) : 0.0;
}

double JobProgress::JobShare() const {
  std::int64_t done = 0, total = 0;
  for (const Step& step : steps_) {
    done += std::min(step.done, step.total);
    total += step.total;
  }
  return total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
}

std::string JobProgress::JobText() const {
  std::int64_t done = 0, total = 0;
  for (const Step& step : steps_) {
    done += std::min(step.done, step.total);
    total += step.total;
  }
  std::string text = Bytes(done) + " of " + Bytes(total);
  if (rate_ > 0) {
    char rate[32];
    std::snprintf(rate, sizeof rate, ", %.1f MB/s", rate_ / 1e6);
    text += rate;
    if (total > done) text += ", " + Duration(static_cast<double>(total - done) / rate_) + " left";
  }
  return text;
}

std::vector<std::string> JobProgress::TakeMessages() { return std::exchange(messages_, {}); }

const std::vector<DataSize>& DataSizes() {
  static const std::vector<DataSize> sizes = {
      MakeSize("Small", 5, 1'000'000),
      MakeSize("Medium", 50, 10'000'000),
      MakeSize("Large", 300, 0),
  };
  return sizes;
}

std::string Describe(const DataSize& size) {
  const std::string domains = size.topDomains == 0           ? "all ranked domains"
                              : size.topDomains == 1'000'000 ? "the best million domains"
                                                             : "the best " + Count(size.topDomains) + " domains";
  return size.name + ": " + std::to_string(size.crawlFiles) + " crawl files, " + domains +
         ", a day of pageviews (download about " + Bytes(size.downloadBytes) + ", disk about " + Bytes(size.diskBytes) +
         ")";
}

std::vector<std::vector<std::string>> GetCommands(const DataSize& size, const std::string& mirror) {
  std::vector<std::vector<std::string>> commands = {
      {"get", "crawl", "--files", std::to_string(size.crawlFiles)},
      {"get", "hostranks"},
      {"get", "pageviews"},
  };
  if (size.topDomains > 0) commands[1].insert(commands[1].end(), {"--top", std::to_string(size.topDomains)});
  if (!mirror.empty())
    for (auto& command : commands) command.insert(command.end(), {"--mirror", mirror});
  return commands;
}

std::string CommandLine(const std::string& program, const std::vector<std::string>& args) {
  std::string line;
  auto append = [&](const std::string& arg) {
    if (!line.empty()) line += ' ';
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
      line += arg;
      return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (char c : arg) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      // Backslashes count double only before a quote.
      line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
  };
  append(program);
  for (const std::string& arg : args) append(arg);
  return line;
}

std::string Bytes(std::int64_t bytes) {
  char text[32];
  const double value = static_cast<double>(bytes);
  if (bytes >= 10'000'000'000) std::snprintf(text, sizeof text, "%.0f GB", value / 1e9);
  else if (bytes >= 1'000'000'000) std::snprintf(text, sizeof text, "%.1f GB", value / 1e9);
  else if (bytes >= 1'000'000) std::snprintf(text, sizeof text, "%.0f MB", value / 1e6);
  else if (bytes >= 1'000) std::snprintf(text, sizeof text, "%.0f kB", value / 1e3);
  else std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
  return text;
}

std::string Count(std::int64_t count) {
  std::string digits = std::to_string(count < 0 ? -count : count), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return (count < 0 ? "-" : "") + out;
}

}  // namespace quillet::data
