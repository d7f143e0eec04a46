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

#include "services/ClickHouseStore.h"
#include "services/Demo.h"
#include "services/HttpServer.h"
#include "services/Import.h"
#include "services/Input.h"
#include "services/Pages.h"
#include "services/Platform.h"
#include "services/Service.h"
#include "services/SqliteStore.h"

namespace {

using namespace quillet::services;

void PrintUsage() {
  std::fprintf(stderr,
               "usage:\n"
               "  quillet-services serve  [--db FILE] [--listen HOST:PORT] [--threads N]\n"
               "  quillet-services demo   [--db FILE] [--pages N] [--hosts N]\n"
               "  quillet-services import KIND FILE... [--db FILE]\n"
               "    KIND: keywords, pages, ranks, wet, wat,\n"
               "          hostranks [--by harmonic|pagerank], pageviews [--project CODE] [--hours N], gsc\n"
               "  quillet-services stop   (Windows: ends the servers started from this program file)\n"
               "serve, demo and import take, instead of --db, a ClickHouse store:\n"
               "  --clickhouse URL[,URL...] [--clickhouse-cluster NAME] [--clickhouse-db NAME]\n"
               "defaults: --db %s, --listen 127.0.0.1:8790, --threads 16,\n"
               "          --by harmonic, --project en, --hours: one per file, --clickhouse-db quillet\n",
               platform::DefaultDatabase().c_str());
}

struct Options {
  std::string db = platform::DefaultDatabase();
  std::string listen = "127.0.0.1:8790";
  int threads = limits::kDefaultWorkers;
  DemoOptions demo;
  ClickHouseOptions clickhouse;
  RankBy rankBy = RankBy::Harmonic;
  std::string project = "en";
  int hours = 0;  // 0: one per file
  std::vector<std::string> positional;
};

std::unique_ptr<StoreReader> OpenReader(const Options& options) {
  if (!options.clickhouse.nodes.empty()) return std::make_unique<ClickHouseReader>(options.clickhouse);
  return std::make_unique<SqliteReader>(options.db);
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
      if (!value(&text) || !ParseInt(text, 1, &options->threads) || options->threads > 256) return false;
    } else if (arg == "--pages") {
      if (!value(&text) || !ParseInt(text, 0, &options->demo.pages)) return false;
    } else if (arg == "--hosts") {
      if (!value(&text) || !ParseInt(text, 1, &options->demo.hosts)) return false;
    } else if (arg == "--by") {
      if (!value(&text) || (text != "harmonic" && text != "pagerank")) return false;
      options->rankBy = text == "pagerank" ? RankBy::PageRank : RankBy::Harmonic;
    } else if (arg == "--project") {
      if (!value(&options->project) || options->project.empty()) return false;
    } else if (arg == "--hours") {
      if (!value(&text) || !ParseInt(text, 1, &options->hours)) return false;
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
  std::unique_ptr<StoreReader> store = OpenReader(options);
  Service service(*store);
  HttpServer::Options serverOptions;
  serverOptions.workers = options.threads;
  HttpServer server(service, serverOptions);
  platform::StopRequests stopRequests([&server] { server.Stop(); });
  if (server.Bind(host, port) < 0) {
    std::fprintf(stderr, "cannot listen on %s\n", options.listen.c_str());
    return 1;
  }
  if (!IsLoopback(host))
    std::printf(
        "warning: the service has no access control; anyone who can reach %s can query it "
        "(see services/README.md, \"Sharing one service\")\n",
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
  try {
    auto progress = [](std::int64_t done, std::int64_t total) {
      std::fprintf(stderr, "\rpages %lld of %lld", static_cast<long long>(done), static_cast<long long>(total));
      if (done == total) std::fputc('\n', stderr);
    };
    if (options.clickhouse.nodes.empty()) {
      summary = BuildDemo(options.db, options.demo, progress);
    } else {
      ClickHouseWriter writer(options.clickhouse);
      summary = WriteDemo(writer, options.demo, progress);
      writer.Commit();
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "\n%s: the demo data set could not be written: %s; %s\n", StoreName(options).c_str(),
                 Explain(error).c_str(),
                 options.clickhouse.nodes.empty() ? "any file there is as it was" : "nothing of it was stored");
    return 1;
  }
  std::printf("%s: %lld keywords, %lld pages, %lld hosts, %lld links, %lld traffic ranks in %.1f s\n",
              StoreName(options).c_str(), static_cast<long long>(summary.keywords),
              static_cast<long long>(summary.pages), static_cast<long long>(summary.hosts),
              static_cast<long long>(summary.links), static_cast<long long>(summary.ranks), SecondsSince(start));
  return 0;
}

using Importer = std::function<ImportReport(StoreWriter&, const std::string&, const ImportProgress&)>;

// The reader for a kind of data, and whether its files are summed into one run.
bool FindImporter(const Options& options, Importer* importer, bool* summed) {
  const std::string& kind = options.positional[0];
  *summed = kind == "pageviews" || kind == "gsc";
  if (kind == "keywords") *importer = ImportKeywords;
  else if (kind == "pages") *importer = ImportPages;
  else if (kind == "ranks") *importer = ImportRanks;
  else if (kind == "wet") *importer = ImportWet;
  else if (kind == "wat") *importer = ImportWat;
  else if (kind == "gsc") *importer = ImportSearchConsole;
  else if (kind == "hostranks")
    *importer = [by = options.rankBy](StoreWriter& store, const std::string& file, const ImportProgress& progress) {
      return ImportHostRanks(store, file, by, progress);
    };
  else if (kind == "pageviews")
    *importer = [project = options.project](StoreWriter& store, const std::string& file,
                                            const ImportProgress& progress) {
      return ImportPageviews(store, file, project, progress);
    };
  else return false;
  return true;
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
  double Seconds() const { return SecondsSince(start_); }

 private:
  std::string file_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  long long shown_ = -1;
};

// Each file is one import of its own.
int ImportEach(const Options& options, const Importer& importer) {
  int status = 0;
  for (size_t f = 1; f < options.positional.size(); ++f) {
    const std::string& file = options.positional[f];
    ProgressLine progress(file);
    try {
      std::unique_ptr<StoreWriter> writer = OpenWriter(options);
      ImportReport report = importer(*writer, file, progress.Callback());
      writer->Commit();
      progress.End();
      std::printf("%s: %s (%.1f s)\n", file.c_str(), report.Describe().c_str(), progress.Seconds());
      if (report.NothingStored()) status = 1;
    } catch (const std::exception& error) {
      progress.End();
      const char* what = dynamic_cast<const InputError*>(&error) ? "could not be read" : "failed";
      std::fprintf(stderr, "%s: import %s, nothing of it was stored: %s\n", file.c_str(), what, Explain(error).c_str());
      status = 1;
    }
  }
  return status;
}

// The files are one import: their counts are summed, then scaled to a month (pageview
// hours) and stored; a file that cannot be read fails the whole run.
int ImportSummed(const Options& options, const Importer& importer) {
  const bool hourly = options.positional[0] == "pageviews";
  const std::int64_t files = static_cast<std::int64_t>(options.positional.size() - 1);
  const std::int64_t hours = options.hours > 0 ? options.hours : files;
  auto start = std::chrono::steady_clock::now();
  std::string current;
  try {
    std::unique_ptr<StoreWriter> writer = OpenWriter(options);
    int status = 0;
    for (size_t f = 1; f < options.positional.size(); ++f) {
      current = options.positional[f];
      ProgressLine progress(current);
      ImportReport report = importer(*writer, current, progress.Callback());
      progress.End();
      std::printf("%s: %s (%.1f s)\n", current.c_str(), report.Describe().c_str(), progress.Seconds());
      if (report.NothingStored()) status = 1;
    }
    current.clear();
    // A month of 30 days: 720 hours.
    TallyResult stored = hourly ? writer->StoreTally(720, hours) : writer->StoreTally(1, 1);
    writer->Commit();
    std::printf("%lld files%s: %s terms stored (%s added, %s replaced) in %.1f s\n", static_cast<long long>(files),
                hourly ? (" covering " + std::to_string(hours) + " hours, scaled to a month").c_str() : "",
                WithThousands(stored.added + stored.replaced).c_str(), WithThousands(stored.added).c_str(),
                WithThousands(stored.replaced).c_str(), SecondsSince(start));
    return status;
  } catch (const std::exception& error) {
    const char* what = !current.empty() && dynamic_cast<const InputError*>(&error) ? "could not be read" : "failed";
    std::fprintf(stderr, "%s: import %s; nothing of this run was stored: %s\n",
                 current.empty() ? "the run" : current.c_str(), what, Explain(error).c_str());
    return 1;
  }
}

int Import(const Options& options) {
  if (options.positional.size() < 2) {
    PrintUsage();
    return 2;
  }
  Importer importer;
  bool summed = false;
  if (!FindImporter(options, &importer, &summed)) {
    std::fprintf(stderr, "unknown kind of data: %s (keywords, pages, ranks, wet, wat, hostranks, pageviews or gsc)\n",
                 options.positional[0].c_str());
    return 2;
  }
  return summed ? ImportSummed(options, importer) : ImportEach(options, importer);
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

}  // namespace

int main(int argc, char** argv) {
  platform::PrepareProcess();
  std::vector<std::string> args = platform::Arguments(argc, argv);
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
