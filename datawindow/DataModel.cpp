#include "datawindow/DataModel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "protocol/Format.h"
#include "protocol/Lines.h"
#include "protocol/OpenData.h"

namespace quillet::data {
namespace {

using protocol::Bytes;
using protocol::Decode;
using protocol::Duration;
using protocol::Event;
using protocol::Line;
using protocol::Rate;

std::string Tail(const std::string& name) {
  std::size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

DataSize MakeSize(std::string name, int crawlFiles, std::int64_t topDomains) {
  using namespace protocol;
  const std::int64_t rankLines = topDomains > 0 ? topDomains : kRankListLines;
  const std::int64_t crawl = crawlFiles * (kMetadataFileBytes + kTextFileBytes);
  const std::int64_t ranks = rankLines * kRankLineBytes;
  const std::int64_t views = 24 * kPageviewHourBytes;
  const double disk = crawlFiles * (kMetadataFileBytes * StoreGrowth("wat") + kTextFileBytes * StoreGrowth("wet")) +
                      static_cast<double>(ranks) * StoreGrowth("hostranks") +
                      static_cast<double>(views) * StoreGrowth("pageviews");
  return {std::move(name),      crawlFiles, topDomains, crawl + ranks + views, static_cast<std::int64_t>(disk),
          {crawl, ranks, views}};
}

}  // namespace

void ReadStatusLine(std::string_view text, DatabaseStatus* status) {
  const Line line = Decode(text);
  switch (line.event) {
    case Event::kDatabase:
      status->path = line.Text(0);
      status->bytes = line.Number(1);
      break;
    case Event::kCounts:
      status->pages = line.Number(0);
      status->terms = line.Number(1);
      status->ranked = line.Number(2);
      break;
    case Event::kService: status->service = line.Text(0); break;
    case Event::kUserData: status->userData = line.Text(0) == "1"; break;
    case Event::kKept:
      status->kept = line.Text(0);
      status->keptBytes = line.Number(1);
      break;
    case Event::kSource:
      status->sources.push_back(
          {line.Text(0), line.Text(1), line.Number(2), line.Number(3), line.Number(4), line.Text(5)});
      break;
    case Event::kDone: status->complete = true; break;
    default: break;
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

JobProgress::JobProgress(std::vector<std::int64_t> amounts) {
  for (std::int64_t amount : amounts) steps_.push_back({amount});
}

void JobProgress::StartStep(std::size_t step) {
  step_ = std::min(step, steps_.size() - 1);
  fileDone_ = fileTotal_ = files_ = 0;
  fileText_.clear();
}

void JobProgress::Plan(std::size_t step, std::int64_t amount) {
  if (step >= steps_.size() || steps_[step].total < 0 || amount < 0) return;
  steps_[step].total = amount;
  steps_[step].known = true;
}

void JobProgress::Read(const Line& line) {
  if (steps_.empty()) return;
  Step& step = steps_[step_];
  const bool counted = step.total >= 0;
  switch (line.event) {
    case Event::kPlan:
      files_ = line.Number(0);
      if (counted && line.Number(1) >= 0) {
        step.total = line.Number(1);
        step.known = true;
      }
      if (!line.Text(2).empty()) unit_ = line.Text(2);
      break;
    case Event::kFile:
      fileDone_ = 0;
      fileTotal_ = line.Number(2);
      fileText_ = line.Text(0) + "/" + std::to_string(files_) + " " + Tail(line.Text(3));
      break;
    case Event::kProgress:
      fileDone_ = std::max<std::int64_t>(0, line.Number(1));
      fileTotal_ = line.Number(2);
      if (counted) {
        step.done = std::max<std::int64_t>(0, line.Number(3));
        if (line.Number(4) >= 0) {
          step.total = line.Number(4);
          step.known = true;
        }
      }
      rate_ = static_cast<double>(std::max<std::int64_t>(0, line.Number(5)));
      break;
    default: break;
  }
}

void JobProgress::StepEnded(int status) {
  if (steps_.empty()) return;
  Step& step = steps_[step_];
  // What a step that did all it had to do took is its size; one that failed ends where it was.
  if (status == 0 && step.total >= 0) {
    step.total = step.done = std::max(step.done, step.known ? step.total : step.done);
    step.known = true;
    fileDone_ = fileTotal_;
  }
}

std::int64_t JobProgress::Sum(std::int64_t Step::*field) const {
  std::int64_t sum = 0;
  for (const Step& step : steps_)
    if (step.total >= 0) sum = protocol::AddSizes(sum, std::min(step.*field, step.total));
  return sum;
}

double JobProgress::FileShare() const {
  return fileTotal_ > 0 ? std::min(1.0, static_cast<double>(fileDone_) / static_cast<double>(fileTotal_)) : 0.0;
}

double JobProgress::JobShare() const {
  const std::int64_t total = Sum(&Step::total);
  return total > 0 ? std::min(1.0, static_cast<double>(Sum(&Step::done)) / static_cast<double>(total)) : 0.0;
}

std::string JobProgress::JobText() const {
  const std::int64_t done = Sum(&Step::done), total = Sum(&Step::total);
  const bool bytes = unit_ == protocol::kUnitBytes;
  auto amount = [&](std::int64_t value) { return bytes ? Bytes(value) : protocol::Thousands(value) + " " + unit_; };
  std::string text = amount(done) + " of " + amount(total);
  const bool known =
      std::all_of(steps_.begin(), steps_.end(), [](const Step& step) { return step.total < 0 || step.known; });
  if (!known) text = amount(done) + " of about " + amount(total);
  if (bytes && rate_ > 0) {
    text += ", " + Rate(rate_);
    if (known && total > done) text += ", " + Duration(static_cast<double>(total - done) / rate_) + " left";
  }
  return text;
}

const std::vector<DataSize>& DataSizes() {
  static const std::vector<DataSize> sizes = {
      MakeSize("Small", 5, 1'000'000),
      MakeSize("Medium", 50, 10'000'000),
      MakeSize("Large", 300, 0),
  };
  return sizes;
}

std::string Describe(const DataSize& size) {
  const std::string domains = size.topDomains == 0 ? "all ranked domains"
                              : size.topDomains == 1'000'000
                                  ? "the best million domains"
                                  : "the best " + protocol::Thousands(size.topDomains) + " domains";
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

}  // namespace quillet::data
