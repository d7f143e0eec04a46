// quillet-research: Quillet's category research and affiliate program search from a command
// line, many topics in one run, the rows as CSV or JSON Lines. The rows are the research
// core's own; this program only gathers the topics, runs the core once for each and writes
// what it adds to its list.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "cli/Console.h"
#include "cli/ConsoleRun.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "net/FetchPage.h"
#include "research/AffiliateSearch.h"
#include "research/CategoryResearch.h"
#include "research/SearchSettings.h"

namespace quillet::cli {
namespace {

constexpr int kAllDone = 0;
constexpr int kNoPage = 1;
constexpr int kUsage = 2;
constexpr int kInterrupted = 130;  // as a shell reports a program ended by Ctrl-C

int UsageError(const std::string& error) {
  std::fprintf(stderr, "quillet-research: %s\n(quillet-research --help tells how to use it)\n", error.c_str());
  return kUsage;
}

// Says what failed, with the system's reason when errno holds one.
int FileError(const std::string& what, const std::string& path) {
  const int error = errno;
  std::fprintf(stderr, "quillet-research: cannot %s %s%s%s\n", what.c_str(), path.c_str(), error ? ": " : "",
               error ? std::strerror(error) : "");
  return kUsage;
}

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// One topic a line: blanks around it and a UTF-8 byte order mark are dropped, blank lines
// skipped. "-" is standard input.
std::optional<std::vector<std::string>> ReadTopics(const std::string& path) {
  FilePtr owned(nullptr, std::fclose);
  std::FILE* in = stdin;
  if (path != "-") {
    owned.reset(std::fopen(path.c_str(), "rb"));
    if (!owned) return std::nullopt;
    in = owned.get();
  }
  std::string text;
  char chunk[65536];
  while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, in)) text.append(chunk, n);
  if (std::ferror(in)) return std::nullopt;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::vector<std::string> topics;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::size_t first = text.find_first_not_of(" \t\r", at);
    if (first < end) topics.push_back(text.substr(first, text.find_last_not_of(" \t\r", end - 1) - first + 1));
    at = end + 1;
  }
  return topics;
}

// The categories the program's category box offers for an idea list: empty ones skipped,
// and of those that differ only in letter case the first.
std::vector<std::string> CategoryChoices(const std::vector<IdeaEntry>& entries) {
  std::vector<std::string> choices;
  std::unordered_set<std::string> listed;
  for (const IdeaEntry& entry : entries)
    if (!entry.category.empty() && listed.insert(FoldedCase(entry.category)).second) choices.push_back(entry.category);
  return choices;
}

struct Job {
  Options options;
  std::vector<std::string> topics;
  SearchSettings settings;
  ServiceHosts hosts;
};

// The topics, settings and service of the command line; the exit code of a usage error, or
// kAllDone.
int Prepare(const Options& options, Job& job) {
  job.options = options;
  job.topics = options.topics;
  errno = 0;
  if (!options.topicsFile.empty()) {
    const auto topics = ReadTopics(options.topicsFile);
    if (!topics) return FileError("read", options.topicsFile);
    job.topics.insert(job.topics.end(), topics->begin(), topics->end());
  }
  if (!options.ideasFile.empty()) {
    const auto entries = ReadIdeaListFile(options.ideasFile);
    if (!entries) return FileError("read", options.ideasFile);
    const std::vector<std::string> choices = CategoryChoices(*entries);
    job.topics.insert(job.topics.end(), choices.begin(), choices.end());
  }
  if (job.topics.empty())
    return UsageError(options.command == Command::kCategory ? "no topic to research" : "no term to search for");
  if (options.settings) {
    const auto stored = StoredSearchSettings();
    if (!stored) return UsageError("--settings: Quillet keeps its settings in the registry, on Windows only");
    job.settings = *stored;
  }
  if (options.skip) job.settings.skip = *options.skip;
  if (options.max) {
    job.settings.results = BoundResults(*options.max);
    if (job.settings.results != *options.max)
      std::fprintf(stderr, "quillet-research: --max %d is out of %d to %d: asking for %d\n", *options.max, kMinResults,
                   kMaxResults, job.settings.results);
  }
  job.hosts = options.service.empty() ? ServiceHostsFromEnvironment() : ServiceHostsAt(options.service);
  return kAllDone;
}

// The columns of the output; with several topics a first column names the topic.
std::vector<OutputColumn> Columns(const Job& job) {
  const bool several = job.topics.size() > 1;
  std::vector<OutputColumn> columns;
  if (job.options.command == Command::kCategory) {
    if (several) columns.push_back({"Topic", "topic", Column::kText});
    columns.insert(columns.end(), {{"Category", "category", Column::kText},
                                   {"Demand", "demand", Column::kCount},
                                   {"Supply", "supply", Column::kCount},
                                   {"Profitability", "profitability", Column::kCount}});
  } else {
    if (several) columns.push_back({"Category", "category", Column::kText});
    columns.insert(columns.end(), {{"Website URL", "site", Column::kText},
                                   {"Rank #", "rank", Column::kCount},
                                   {"Estimated # of affiliates", "affiliates", Column::kCount},
                                   {"Alexa traffic rank", "traffic_rank", Column::kCount}});
  }
  return columns;
}

int Research(const Job& job, std::FILE* out, const std::string& outName) {
  Format format;
  format.json = job.options.json;
  format.byteOrderMark = job.options.excel;
  if (job.options.excel) format.separator = SpreadsheetListSeparator();
  const bool several = job.topics.size() > 1;
  RowWriter writer(out, format, Columns(job));
  writer.Header();

  const char decimalSeparator = LocaleDecimalSeparator();
  bool stopFlag = false;
  std::string topic;
  std::size_t requests = 0, unanswered = 0;
  const PageFetcher fetch = [&](const std::string& url) {
    ++requests;
    std::string page = FetchPage(url);
    if (page.empty()) ++unanswered;
    return page;
  };
  ConsoleRun run(
      4,
      [&](const std::vector<std::string>& cells) {
        if (!several) {
          writer.Row(cells);
          return;
        }
        std::vector<std::string> withTopic{topic};
        withTopic.insert(withTopic.end(), cells.begin(), cells.end());
        writer.Row(withTopic);
      },
      stopFlag, [&writer] { return Interrupted() || !writer.Ok(); }, StderrIsTerminal() ? stderr : nullptr);

  int exitCode = kAllDone;
  for (const std::string& next : job.topics) {
    if (Interrupted() || !writer.Ok()) break;
    topic = next;
    requests = unanswered = 0;
    run.Begin(topic);
    stopFlag = false;
    try {
      if (job.options.command == Command::kCategory) {
        CategoryResearch research(run, run, fetch, job.hosts, stopFlag, decimalSeparator);
        research.ResearchCategory(topic);
      } else if (!topic.empty()) {  // as Search, which leaves an empty category alone
        AffiliateSearch search(run, run, fetch, job.hosts, stopFlag);
        search.SearchAffiliatePrograms(topic, job.settings.results, job.settings.skip);
      }
    } catch (...) {
      // As after Start or Search: the rows so far stand.
      run.ReportFailure(topic.c_str(), std::current_exception());
    }
    run.Finish();
    if (unanswered > 0) {
      std::fprintf(stderr, "quillet-research: %s: %zu of %zu requests got no page from the data service at %s%s\n",
                   topic.c_str(), unanswered, requests, job.hosts.search.c_str(),
                   unanswered == requests ? " (is it running?)" : "");
      exitCode = kNoPage;
    }
  }
  if (!writer.Ok()) {
    std::fprintf(stderr, "quillet-research: writing %s failed: %s\n", outName.c_str(), std::strerror(writer.Error()));
    return kNoPage;
  }
  return Interrupted() ? kInterrupted : exitCode;
}

int Main(const std::vector<std::string>& args) {
  const ParsedArguments parsed = ParseArguments(args);
  if (args.empty()) {
    std::fputs(UsageText(), stderr);
    return kUsage;
  }
  if (!parsed.error.empty()) return UsageError(parsed.error);
  if (parsed.options.help) {
    std::fputs(UsageText(), stdout);
    return kAllDone;
  }
  Job job;
  if (const int exitCode = Prepare(parsed.options, job); exitCode != kAllDone) return exitCode;

  FilePtr file(nullptr, std::fclose);
  if (!job.options.output.empty()) {
    errno = 0;
    file.reset(std::fopen(job.options.output.c_str(), "wb"));
    if (!file) return FileError("write", job.options.output);
  } else {
    SetBinaryStdout();
  }
  CatchInterrupt();
  IgnoreFileSizeSignal();
  return Research(job, file ? file.get() : stdout, file ? job.options.output : "standard output");
}

}  // namespace
}  // namespace quillet::cli

int main(int argc, char** argv) { return quillet::cli::Main(std::vector<std::string>(argv + 1, argv + argc)); }
