// quillet-services: the local stand-in for the keyword-suggestion service, the web search
// engine and the traffic statistics service, and the tools that fill its database.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services/import/Importers.h"
#include "services/import/Run.h"
#include "services/program/Demo.h"
#include "services/program/ImportHelp.h"
#include "services/program/Platform.h"
#include "services/serve/HttpServer.h"
#include "services/serve/Log.h"
#include "services/serve/Service.h"
#include "services/store/clickhouse/ClickHouseStore.h"
#include "services/store/sqlite/SqliteStore.h"

namespace {

using namespace quillet::services;

// To stderr after a mistake in the command, to stdout when asked for.
void PrintUsage(std::FILE* out = stderr) {
  std::string kinds;
  for (const Importer& importer : Importers()) {
    kinds += "      " + std::string(importer.kind);
    if (!importer.options.empty()) kinds += " " + std::string(importer.options);
    kinds += "\n        " + std::string(importer.help) + "\n";
  }
  std::fprintf(out,
               "usage:\n"
               "  quillet-services serve  [--db FILE] [--listen HOST:PORT] [--threads N]\n"
               "  quillet-services demo   [--db FILE] [--pages N] [--hosts N]\n"
               "  quillet-services import KIND FILE... [--db FILE]\n"
               "    KIND:\n%s"
               "  quillet-services stop   (Windows: ends the servers started from this program file)\n"
               "  quillet-services help import   (the file formats of each kind)\n"
               "serve, demo and import take, instead of --db, a ClickHouse store:\n"
               "  --clickhouse URL[,URL...] [--clickhouse-cluster NAME] [--clickhouse-db NAME]\n"
               "defaults: --db %s, --listen 127.0.0.1:8790, --threads %d,\n"
               "          --by harmonic, --project en, --hours: one per file, --clickhouse-db quillet\n",
               kinds.c_str(), platform::DefaultDatabase().c_str(), limits::kDefaultWorkers);
}

struct Options {
  std::string db = platform::DefaultDatabase();
  std::string listen = "127.0.0.1:8790";
  int threads = limits::kDefaultWorkers;
  DemoOptions demo;
  ClickHouseOptions clickhouse;
  ImportSettings import;
  std::vector<std::string> positional;
};

std::unique_ptr<StoreReader> OpenReader(const Options& options, Log& log) {
  if (!options.clickhouse.nodes.empty()) return std::make_unique<ClickHouseReader>(options.clickhouse);
  return std::make_unique<SqliteReader>(options.db, [&log](const std::string& line) { log.Line(line); });
}

std::unique_ptr<StoreWriter> OpenWriter(const Options& options) {
  if (!options.clickhouse.nodes.empty()) return std::make_unique<ClickHouseWriter>(options.clickhouse);
  return std::make_unique<SqliteWriter>(options.db);
}

// Where the data goes, for messages.
std::string StoreName(const Options& options) {
  if (options.clickhouse.nodes.empty()) return options.db;
  return "ClickHouse " + options.clickhouse.nodes.front() + " database " + options.clickhouse.database;
}

bool ParseInt(const std::string& text, int low, int* out) {
  try {
    size_t used = 0;
    long value = std::stol(text, &used);
    if (used != text.size() || value < low || value > 100000000) return false;
    *out = static_cast<int>(value);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool ParseOptions(const std::vector<std::string>& args, Options* options) {
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string text;
    if (arg == "--db") {
      if (!value(&options->db)) return false;
    } else if (arg == "--clickhouse") {
      if (!value(&text)) return false;
      options->clickhouse.nodes = SplitNodeList(text);
    } else if (arg == "--clickhouse-cluster") {
      if (!value(&options->clickhouse.cluster)) return false;
    } else if (arg == "--clickhouse-db") {
      if (!value(&options->clickhouse.database)) return false;
    } else if (arg == "--listen") {
      if (!value(&options->listen)) return false;
    } else if (arg == "--threads") {
      if (!value(&text) || !ParseInt(text, 1, &options->threads) || options->threads > limits::kMaxWorkers)
        return false;
    } else if (arg == "--pages") {
      if (!value(&text) || !ParseInt(text, 0, &options->demo.pages)) return false;
    } else if (arg == "--hosts") {
      if (!value(&text) || !ParseInt(text, 1, &options->demo.hosts)) return false;
    } else if (arg == "--by") {
      if (!value(&text) || (text != "harmonic" && text != "pagerank")) return false;
      options->import.rankBy = text == "pagerank" ? RankBy::PageRank : RankBy::Harmonic;
    } else if (arg == "--project") {
      if (!value(&options->import.project) || options->import.project.empty()) return false;
    } else if (arg == "--hours") {
      if (!value(&text) || !ParseInt(text, 1, &options->import.hours)) return false;
    } else if (arg.rfind("--", 0) == 0) {
      return false;
    } else {
      options->positional.push_back(arg);
    }
  }
  return true;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

// A store error said so that the user knows what happened to the data.
std::string Explain(const std::exception& error) {
  std::string what = error.what();
  if (const auto* db = dynamic_cast<const DbError*>(&error)) {
    if (db->Code() == SQLITE_FULL || db->Code() == SQLITE_IOERR) what += " (is the disk full?)";
  }
  return what;
}

int Serve(const Options& options) {
  size_t colon = options.listen.rfind(':');
  int port = 0;
  if (colon == std::string::npos || !ParseInt(options.listen.substr(colon + 1), 1, &port) || port > 65535) {
    std::fprintf(stderr, "--listen wants HOST:PORT, got %s\n", options.listen.c_str());
    return 2;
  }
  std::string host = options.listen.substr(0, colon);
  // Store failures, refusals of note and replaced database files; on Windows the hidden
  // starter appends standard error to its log file.
  Log log(stderr);
  std::unique_ptr<StoreReader> store = OpenReader(options, log);
  Service service(*store, limits::kQueryBudget, &log);
  HttpServer::Options serverOptions;
  serverOptions.workers = options.threads;
  serverOptions.log = &log;
  HttpServer server(service, serverOptions);
  platform::StopRequests stopRequests([&server] { server.Stop(); });
  if (server.Bind(host, port) < 0) {
    std::fprintf(stderr, "cannot listen on %s\n", options.listen.c_str());
    return 1;
  }
  if (!IsLoopback(host))
    std::printf(
        "warning: the service has no access control; anyone who can reach %s can query it "
        "(see \"Sharing one service\" in services/README.md, or in Quillet's help)\n",
        options.listen.c_str());
  std::printf("serving %s on http://%s/\n", StoreName(options).c_str(), options.listen.c_str());
  std::fflush(stdout);
  return server.Run() ? 0 : 1;
}

int Demo(const Options& options) {
  if (options.clickhouse.nodes.empty() && platform::FileInUse(options.db)) {
    std::fprintf(stderr,
                 "%s is open in another program, most likely the running data service, and cannot be "
                 "replaced: stop the service first (quillet-services stop)\n",
                 options.db.c_str());
    return 1;
  }
  auto start = std::chrono::steady_clock::now();
  DemoSummary summary;
  // On a terminal the count is drawn over itself. Elsewhere each step is a line: the installer
  // shows them as they come and moves its bar by them, and the hidden starter's log stays
  // readable.
  const bool terminal = platform::ErrorIsTerminal();
  try {
    std::fprintf(stderr, "building the demo data set: %d pages on %d hosts\n", options.demo.pages, options.demo.hosts);
    auto progress = [terminal](std::int64_t done, std::int64_t total) {
      std::fprintf(stderr, terminal ? "\rpages %lld of %lld" : "pages %lld of %lld\n", static_cast<long long>(done),
                   static_cast<long long>(total));
      if (done == total)
        std::fputs(terminal ? "\nwriting traffic ranks and the search index\n"
                            : "writing traffic ranks and the search index\n",
                   stderr);
      std::fflush(stderr);
    };
    if (options.clickhouse.nodes.empty()) {
      summary = BuildDemo(options.db, options.demo, progress);
    } else {
      ClickHouseWriter writer(options.clickhouse);
      summary = WriteDemo(writer, options.demo, progress);
      writer.Commit();
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s%s: the demo data set could not be written: %s; %s\n", terminal ? "\n" : "",
                 StoreName(options).c_str(), Explain(error).c_str(),
                 options.clickhouse.nodes.empty() ? "any file there is as it was" : "nothing of it was stored");
    return 1;
  }
  std::printf("%s: %lld keywords, %lld pages, %lld hosts, %lld links, %lld traffic ranks in %.1f s\n",
              StoreName(options).c_str(), static_cast<long long>(summary.keywords),
              static_cast<long long>(summary.pages), static_cast<long long>(summary.hosts),
              static_cast<long long>(summary.links), static_cast<long long>(summary.ranks), SecondsSince(start));
  return 0;
}

// Shows the percentage of a file read, once the import has taken more than a second.
class ProgressLine {
 public:
  explicit ProgressLine(const std::string& file) : file_(file) {}
  ~ProgressLine() { End(); }
  ImportProgress Callback() {
    return [this](std::int64_t done, std::int64_t total) {
      long long percent = total > 0 ? static_cast<long long>(done * 100 / total) : 100;
      if (percent != shown_ && SecondsSince(start_) > 1.0) {
        std::fprintf(stderr, "\r%s: %3lld%%", file_.c_str(), percent);
        shown_ = percent;
      }
      return true;
    };
  }
  void End() {
    if (shown_ >= 0) std::fputc('\n', stderr);
    shown_ = -1;
  }

 private:
  std::string file_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  long long shown_ = -1;
};

int Import(const Options& options) {
  if (options.positional.size() < 2) {
    PrintUsage();
    return 2;
  }
  const Importer* importer = FindImporter(options.positional[0]);
  if (!importer) {
    std::string kinds;
    for (const Importer& known : Importers()) kinds += (kinds.empty() ? "" : ", ") + std::string(known.kind);
    std::fprintf(stderr, "unknown kind of data: %s (%s)\n", options.positional[0].c_str(), kinds.c_str());
    return 2;
  }
  std::unique_ptr<ProgressLine> progress;
  RunConsole console;
  console.said = [&](const std::string& line) {
    progress.reset();
    std::printf("%s\n", line.c_str());
  };
  console.failed = [&](const std::string& line) {
    progress.reset();
    std::fprintf(stderr, "%s\n", line.c_str());
  };
  console.progress = [&](const std::string& file) {
    progress = std::make_unique<ProgressLine>(file);
    return progress->Callback();
  };
  console.explain = Explain;
  std::vector<std::string> files(options.positional.begin() + 1, options.positional.end());
  return RunImport(
      *importer, files, options.import, [&] { return OpenWriter(options); }, console);
}

int Stop() {
  int stopped = platform::StopServers();
  if (stopped < 0) {
    std::fputs("stop is for Windows; here, end serve with Ctrl-C or a signal\n", stderr);
    return 2;
  }
  std::printf("%d data service%s stopped\n", stopped, stopped == 1 ? "" : "s");
  return 0;
}

bool AsksForHelp(const std::string& arg) { return arg == "help" || arg == "--help" || arg == "-h"; }

}  // namespace

int main(int argc, char** argv) {
  platform::PrepareProcess();
  std::vector<std::string> args = platform::Arguments(argc, argv);
  // "help import", "import --help": the formats; "help", "--help": the usage.
  const bool help = args.size() >= 2 && AsksForHelp(args[1]);
  const bool importHelp = (help && args.size() >= 3 && args[2] == "import") ||
                          (args.size() >= 3 && args[1] == "import" && AsksForHelp(args[2]));
  if (importHelp) {
    std::fputs(ImportHelp().c_str(), stdout);
    return 0;
  }
  if (help) {
    PrintUsage(stdout);
    return 0;
  }
  Options options;
  if (args.size() < 2 || !ParseOptions(args, &options)) {
    PrintUsage();
    return 2;
  }
  const std::string& command = args[1];
  try {
    if (command == "serve" && options.positional.empty()) return Serve(options);
    if (command == "demo" && options.positional.empty()) return Demo(options);
    if (command == "import") return Import(options);
    if (command == "stop" && options.positional.empty()) return Stop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillet-services %s: %s\n", command.c_str(), error.what());
    return 1;
  }
  PrintUsage();
  return 2;
}
