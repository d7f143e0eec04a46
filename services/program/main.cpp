// quillet-services: the local stand-in for the keyword-suggestion service, the web search
// engine and the traffic statistics service, and the tools that fill its database.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/Format.h"
#include "protocol/Lines.h"
#include "services/get/Get.h"
#include "services/import/Importers.h"
#include "services/import/Run.h"
#include "services/import/Sniff.h"
#include "services/program/Demo.h"
#include "services/program/ImportHelp.h"
#include "services/program/Platform.h"
#include "services/serve/HttpServer.h"
#include "services/serve/Log.h"
#include "services/serve/Service.h"
#include "services/store/clickhouse/ClickHouseStore.h"
#include "services/store/sqlite/SqliteStore.h"
#include "services/text/Strings.h"

namespace {

using namespace quillet::services;
namespace protocol = quillet::protocol;

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
               "  quillet-services demo   [--db FILE] [--pages N] [--hosts N] [--replace | --remove | --take-back]\n"
               "  quillet-services import KIND FILE... [--db FILE]\n"
               "    KIND:\n%s"
               "      auto\n        each file's kind told from its content\n"
               "  quillet-services get crawl [CRAWL] [--files N]            the newest crawl unless named\n"
               "  quillet-services get hostranks [RELEASE] [--hosts] [--top N]\n"
               "  quillet-services get pageviews [YYYY-MM-DD] [--hours N] [--project CODE]\n"
               "    get options: [--mirror URL] [--keep-free MB] [--plan] [--db FILE]\n"
               "  quillet-services sources [--db FILE]     what the imports stored, from where\n"
               "  quillet-services status  [--db FILE]     the database's counts and the service's state\n"
               "  quillet-services stop   (Windows: ends the servers started from this program file)\n"
               "  quillet-services help import   (the file formats of each kind)\n"
               "demo refuses to replace a database that holds imported data unless given --replace; it\n"
               "then keeps the old file as FILE.before-demo; demo --take-back puts it back in place. demo\n"
               "--remove empties a database that holds the demo data alone. get and import\n"
               "--replace-demo: on a database that holds the demo data alone, the first file stored\n"
               "replaces it. get --plan: the files to fetch and their sizes, nothing stored.\n"
               "--progress-lines (import, get, demo, status): one line per event, for programs.\n"
               "serve, demo, import, get, sources and status take,\n"
               "instead of --db, a ClickHouse store:\n"
               "  --clickhouse URL[,URL...] [--clickhouse-cluster NAME] [--clickhouse-db NAME]\n"
               "defaults: --db %s, --listen 127.0.0.1:8790, --threads %d,\n"
               "          --by harmonic, --project en, --hours: one per file (import) or 24 (get),\n"
               "          --files 1, --hostranks release %s, pageviews: the last complete day (UTC),\n"
               "          --keep-free 1024, --clickhouse-db quillet\n",
               kinds.c_str(), platform::DefaultDatabase().c_str(), limits::kDefaultWorkers, kDefaultGraphRelease);
}

struct Options {
  std::string db = platform::DefaultDatabase();
  std::string listen = "127.0.0.1:8790";
  int threads = limits::kDefaultWorkers;
  DemoOptions demo;
  bool replace = false;
  bool remove = false;
  bool takeBack = false;
  bool replaceDemo = false;
  bool plan = false;
  ClickHouseOptions clickhouse;
  ImportSettings import;
  GetRequest get;
  std::int64_t keepFreeMb = 1024;
  bool progressLines = false;
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
  const bool get = args.size() > 1 && args[1] == "get";
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
    } else if (arg == "--hosts" && get) {
      options->get.hosts = true;
    } else if (arg == "--hosts") {
      if (!value(&text) || !ParseInt(text, 1, &options->demo.hosts)) return false;
    } else if (arg == "--replace") {
      options->replace = true;
    } else if (arg == "--remove") {
      options->remove = true;
    } else if (arg == "--take-back") {
      options->takeBack = true;
    } else if (arg == "--replace-demo") {
      options->replaceDemo = true;
    } else if (arg == "--plan" && get) {
      options->plan = true;
    } else if (arg == "--progress-lines") {
      options->progressLines = true;
    } else if (arg == "--files") {
      if (!value(&text) || !ParseInt(text, 1, &options->get.files)) return false;
    } else if (arg == "--top") {
      int top = 0;
      if (!value(&text) || !ParseInt(text, 1, &top)) return false;
      options->import.top = options->get.top = top;
    } else if (arg == "--mirror") {
      if (!value(&options->get.mirror)) return false;
    } else if (arg == "--keep-free") {
      int mb = 0;
      if (!value(&text) || !ParseInt(text, 0, &mb)) return false;
      options->keepFreeMb = mb;
    } else if (arg == "--by") {
      if (!value(&text) || (text != "harmonic" && text != "pagerank")) return false;
      options->import.rankBy = text == "pagerank" ? RankBy::PageRank : RankBy::Harmonic;
    } else if (arg == "--project") {
      if (!value(&options->import.project) || options->import.project.empty()) return false;
    } else if (arg == "--hours") {
      if (!value(&text) || !ParseInt(text, 1, &options->import.hours)) return false;
      options->get.hours = options->import.hours;
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

// How a command tells what it does: a terminal's progress line (redrawn only on a terminal),
// or event lines for programs.
std::unique_ptr<RunEvents> Events(const Options& options) {
  return options.progressLines ? EventLines(stdout) : TerminalEvents(stdout, stderr, platform::ErrorIsTerminal());
}

bool UsesSqlite(const Options& options) { return options.clickhouse.nodes.empty(); }

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::path(std::u8string(path.begin(), path.end())), ignored);
}

// The sources and counts of the store; none for a SQLite file not there yet.
struct StoreState {
  std::vector<SourceRecord> sources;
  StoreCounts counts;
};
StoreState ReadState(const Options& options) {
  if (!UsesSqlite(options)) {
    ClickHouseReader reader(options.clickhouse);
    return {reader.Sources(), reader.Counts()};
  }
  if (!FileExists(options.db)) return {};
  // Read as it is: a file made by an import that failed at its start holds no tables yet. A
  // connection that may write takes its log and index away when it closes.
  std::unique_ptr<Database> opened;
  try {
    opened = std::make_unique<Database>(options.db, Database::Mode::ReadWrite);
  } catch (const DbError&) {
    opened = std::make_unique<Database>(options.db, Database::Mode::ReadOnly);
  }
  Database& db = *opened;
  Statement tables = db.Prepare("SELECT count(*) FROM sqlite_master");
  if (!tables.Step() || tables.Int(0) == 0) return {};
  CheckSchema(db);
  return {ReadSources(db), ReadCounts(db)};
}

int Demo(const Options& options) {
  const bool sqlite = UsesSqlite(options);
  if (sqlite && platform::FileInUse(options.db)) {
    std::fprintf(stderr,
                 "%s is open in another program, most likely the running data service, and cannot be "
                 "replaced: stop the service first (quillet-services stop)\n",
                 options.db.c_str());
    return 1;
  }
  // What someone imported is never lost by a click: only --replace replaces it, and then the
  // old file is kept aside.
  bool holdsData = false;
  std::string why;
  try {
    StoreState state = ReadState(options);
    holdsData = HoldsUserData(state.sources, state.counts);
    std::size_t imported = 0;
    for (const SourceRecord& source : state.sources) imported += source.kind != kDemoSource;
    why = imported > 0 ? "holds data imported from " + std::to_string(imported) + (imported == 1 ? " file" : " files")
                       : "holds data of unknown origin (no import recorded)";
  } catch (const std::exception& error) {
    holdsData = sqlite;  // a file that cannot be read may still be someone's
    why = std::string("cannot be read (") + error.what() + ")";
  }
  if (options.takeBack) {
    // The demo data alone is given up for the file kept from before it, nothing imported since.
    std::unique_ptr<RunEvents> events = Events(options);
    if (!sqlite || holdsData) {
      events->Failed(StoreName(options) + " " + (sqlite ? why : std::string("is a ClickHouse store")) +
                         ": demo --take-back replaces the demo data set only",
                     "Keep the file aside by hand if you want both.");
      events->Finished(1);
      return 1;
    }
    try {
      TakeBackKept(options.db);
    } catch (const std::exception& error) {
      events->Failed(options.db + ": " + error.what() + "; both files are as they were",
                     "Stop the data service, then take it back again.");
      events->Finished(1);
      return 1;
    }
    events->Stored(options.db + ": the database kept from before the demo data is back in place");
    events->Finished(0);
    return 0;
  }
  if (options.remove) {
    // Real data is got into a database of its own: never mixed with made-up data.
    if (!sqlite || holdsData) {
      std::fprintf(stderr, "%s %s: demo --remove removes the demo data set only\n", StoreName(options).c_str(),
                   sqlite ? why.c_str() : "is a ClickHouse store");
      return 1;
    }
    std::unique_ptr<RunEvents> events = Events(options);
    try {
      BuildEmpty(options.db);
    } catch (const std::exception& error) {
      events->Failed(options.db + ": could not be emptied: " + Explain(error) + "; it is as it was");
      events->Finished(1);
      return 1;
    }
    events->Stored(options.db + ": the demo data set was removed; the database is empty");
    events->Finished(0);
    return 0;
  }
  if (holdsData && !options.replace) {
    std::fprintf(stderr, "%s %s; demo would replace it. To replace it anyway, run demo --replace%s\n",
                 StoreName(options).c_str(), why.c_str(),
                 sqlite ? (": the file is then kept as " + KeptBeforeDemo(options.db)).c_str()
                        : " (the demo data set is then added beside the data)");
    return 1;
  }
  auto start = std::chrono::steady_clock::now();
  DemoSummary summary;
  std::unique_ptr<RunEvents> events = Events(options);
  // On a terminal the count is drawn over itself. Elsewhere each step is a line: the installer
  // shows them as they come and moves its bar by them, and the hidden starter's log stays
  // readable. With --progress-lines, a program reads events.
  const bool terminal = platform::ErrorIsTerminal();
  try {
    // Counted in pages, not bytes: a program just moves its bar.
    std::optional<RunTracker> tracker;
    ImportProgress shown;
    if (options.progressLines) {
      tracker.emplace(*events, std::vector<PlannedFile>{{"demo data set", "demo", options.demo.pages}},
                      protocol::kUnitPages);
      shown = tracker->Console(nullptr).progress("demo data set");
    } else {
      std::fprintf(stderr, "building the demo data set: %d pages on %d hosts\n", options.demo.pages,
                   options.demo.hosts);
    }
    auto progress = [&](std::int64_t done, std::int64_t total) {
      if (shown) {
        shown(done, total);
        return;
      }
      std::fprintf(stderr, terminal ? "\rpages %lld of %lld" : "pages %lld of %lld\n", static_cast<long long>(done),
                   static_cast<long long>(total));
      if (done == total)
        std::fputs(terminal ? "\nwriting traffic ranks and the search index\n"
                            : "writing traffic ranks and the search index\n",
                   stderr);
      std::fflush(stderr);
    };
    if (sqlite) {
      summary = BuildDemo(options.db, options.demo, progress, holdsData);
    } else {
      ClickHouseWriter writer(options.clickhouse);
      summary = WriteDemo(writer, options.demo, progress);
      writer.Commit();
    }
    if (tracker) tracker->Finish();
  } catch (const std::exception& error) {
    if (terminal && !options.progressLines) std::fputs("\n", stderr);
    events->Failed(StoreName(options) + ": the demo data set could not be written: " + Explain(error) + "; " +
                   (sqlite ? "any file there is as it was" : "nothing of it was stored"));
    events->Finished(1);
    return 1;
  }
  char line[256];
  std::snprintf(line, sizeof line, "%lld keywords, %lld pages, %lld hosts, %lld links, %lld traffic ranks in %.1f s",
                static_cast<long long>(summary.keywords), static_cast<long long>(summary.pages),
                static_cast<long long>(summary.hosts), static_cast<long long>(summary.links),
                static_cast<long long>(summary.ranks), SecondsSince(start));
  events->Stored(StoreName(options) + ": " + line);
  if (holdsData && sqlite) events->Stored("the file replaced is kept as " + KeptBeforeDemo(options.db));
  events->Finished(0);
  return 0;
}

// --replace-demo: real data in place of the demo data alone, never mixed with it. Imports go
// to a new database beside the file until one commits; that one then takes the file's place
// (the data service stopped meanwhile where a file in use cannot be replaced, and started
// again), so that the demo data stays until there is real data to show, and a run that
// stores nothing leaves the file as it was. On a store holding anything else it does nothing.
class DemoSwap {
 public:
  DemoSwap(const Options& options, RunEvents& events)
      : options_(options), events_(events), aside_(options.db + ".replacing-demo") {
    if (!options.replaceDemo || !UsesSqlite(options)) return;
    const StoreState state = ReadState(options);
    active_ = !state.sources.empty() && !HoldsUserData(state.sources, state.counts);
    if (active_) RemoveDatabase(aside_);  // left by a run that was killed
  }
  ~DemoSwap() {
    if (active_) RemoveDatabase(aside_);
  }
  DemoSwap(const DemoSwap&) = delete;
  DemoSwap& operator=(const DemoSwap&) = delete;

  std::unique_ptr<StoreWriter> Writer() const {
    if (active_) return std::make_unique<SqliteWriter>(aside_);
    return OpenWriter(options_);
  }

  // After an import: once the new database holds one, it takes the demo data's place.
  void Imported() {
    if (!active_) return;
    Options aside = options_;
    aside.db = aside_;
    if (ReadState(aside).sources.empty()) return;
    active_ = false;
    const bool serving = platform::FileInUse(options_.db) && platform::StopServers() > 0;
    PutInPlace(options_.db, aside_, false);
    events_.Stored(options_.db + ": the demo data set was replaced by the data stored");
    if (serving && !platform::StartDataService())
      events_.Failed("the data service could not be started again", "Start it from Quillet Data, or log on again.");
  }

 private:
  const Options& options_;
  RunEvents& events_;
  std::string aside_;
  bool active_ = false;
};

// The files of a run as planned: each with its size on disk.
std::vector<PlannedFile> PlanFiles(const std::string& kind, const std::vector<std::string>& files) {
  std::vector<PlannedFile> planned;
  for (const std::string& file : files) {
    std::error_code failed;
    auto size = std::filesystem::file_size(std::filesystem::path(std::u8string(file.begin(), file.end())), failed);
    planned.push_back({file, kind, failed ? -1 : static_cast<std::int64_t>(size)});
  }
  return planned;
}

// `import auto`: each file's kind told from its content; the files of each kind are one run
// of its importer, in the order of the importer table.
std::vector<std::pair<const Importer*, std::vector<std::string>>> KindsOfFiles(const std::vector<std::string>& files,
                                                                               RunEvents& events, int* status) {
  std::map<std::string, std::vector<std::string>> byKind;
  for (const std::string& file : files) {
    std::string kind;
    try {
      InputFile input(file);
      kind = KindOfContent(input);
    } catch (const InputError& error) {
      events.Failed(file + ": could not be read: " + error.what());
      *status = 1;
      continue;
    }
    if (kind.empty()) {
      events.Failed(file + ": not a kind of file quillet-services imports (see services/README.md); skipped");
      *status = 1;
      continue;
    }
    byKind[kind].push_back(file);
  }
  std::vector<std::pair<const Importer*, std::vector<std::string>>> runs;
  for (const Importer& importer : Importers())
    if (auto found = byKind.find(std::string(importer.kind)); found != byKind.end())
      runs.push_back({&importer, found->second});
  return runs;
}

int Import(const Options& options) {
  if (options.positional.size() < 2) {
    PrintUsage();
    return 2;
  }
  const std::string& kind = options.positional[0];
  const Importer* importer = FindImporter(kind);
  if (!importer && kind != "auto") {
    std::string kinds;
    for (const Importer& known : Importers()) kinds += (kinds.empty() ? "" : ", ") + std::string(known.kind);
    std::fprintf(stderr, "unknown kind of data: %s (%s, auto)\n", kind.c_str(), kinds.c_str());
    return 2;
  }
  std::unique_ptr<RunEvents> events = Events(options);
  std::vector<std::string> files(options.positional.begin() + 1, options.positional.end());
  int status = 0;
  std::vector<std::pair<const Importer*, std::vector<std::string>>> runs;
  if (importer) runs.push_back({importer, files});
  else runs = KindsOfFiles(files, *events, &status);
  std::vector<PlannedFile> planned;
  for (const auto& [runImporter, runFiles] : runs)
    for (PlannedFile& file : PlanFiles(std::string(runImporter->kind), runFiles)) planned.push_back(file);
  RunTracker tracker(*events, planned);
  DemoSwap swap(options, *events);
  for (const auto& [runImporter, runFiles] : runs) {
    if (RunImport(
            *runImporter, runFiles, options.import, [&] { return swap.Writer(); }, tracker.Console(Explain)) != 0)
      status = 1;
    tracker.Finish();
    swap.Imported();
  }
  events->Finished(status);
  return status;
}

int Get(const Options& options) {
  GetRequest request = options.get;
  if (options.positional.empty() || options.positional.size() > 2) {
    PrintUsage();
    return 2;
  }
  request.what = options.positional[0];
  if (options.positional.size() == 2) request.name = options.positional[1];
  GetSettings settings;
  settings.import = options.import;
  settings.keepFree = options.keepFreeMb << 20;
  settings.planOnly = options.plan;
  std::unique_ptr<RunEvents> events = Events(options);
  DemoSwap swap(options, *events);
  GetStore store;
  store.openWriter = [&] { return swap.Writer(); };
  store.sources = [&] { return ReadState(options).sources; };
  if (UsesSqlite(options)) store.freeBytes = [&] { return platform::FreeBytes(options.db); };
  store.explain = Explain;
  store.imported = [&] { swap.Imported(); };
  std::unique_ptr<HttpClient> client = MakeHttpClient("Quillet/" QUILLET_VERSION " (quillet-services get)");
  Fetcher fetcher(
      *client, [&](const std::string& note) { events->Note(note); },
      [](std::chrono::milliseconds time) { std::this_thread::sleep_for(time); });
  try {
    return RunGet(request, settings, store, fetcher, *events, std::time(nullptr));
  } catch (const std::invalid_argument& error) {
    events->Failed(error.what(), "See quillet-services help for what get takes.");
    events->Finished(2);
    return 2;
  }
}

int Sources(const Options& options) {
  StoreState state = ReadState(options);
  if (state.sources.empty()) {
    std::printf("%s: no sources recorded\n", StoreName(options).c_str());
    return 0;
  }
  std::printf("%-19s  %-9s  %12s  %10s  %s\n", "stored (UTC)", "kind", "records", "bytes", "source");
  for (const SourceRecord& source : state.sources) {
    std::string address = source.address;
    if (source.firstLines > 0) address += " (first " + WithThousands(source.firstLines) + " lines)";
    std::printf("%-19s  %-9s  %12s  %10s  %s\n", source.at.c_str(), source.kind.c_str(),
                WithThousands(source.stored).c_str(), protocol::Bytes(source.bytes).c_str(), address.c_str());
  }
  return 0;
}

int Status(const Options& options) {
  StoreState state = ReadState(options);
  std::int64_t size = -1, kept = -1;
  if (UsesSqlite(options)) {
    auto sizeOf = [](const std::string& path) -> std::int64_t {
      std::error_code failed;
      std::filesystem::path file(std::u8string(path.begin(), path.end()));
      auto bytes = std::filesystem::file_size(file, failed);
      if (failed) return -1;
      auto log = std::filesystem::file_size(std::filesystem::path(file) += "-wal", failed);
      return static_cast<std::int64_t>(bytes + (failed ? 0 : log));
    };
    size = sizeOf(options.db);
    kept = sizeOf(KeptBeforeDemo(options.db));
  }
  const int servers = platform::RunningServers();
  const bool userData = HoldsUserData(state.sources, state.counts);
  if (options.progressLines) {
    using protocol::Event;
    auto line = [](Event event, std::initializer_list<std::string> fields) {
      std::printf("%s\n", protocol::Encode(event, fields).c_str());
    };
    line(Event::kDatabase, {StoreName(options), std::to_string(size)});
    line(Event::kCounts,
         {std::to_string(state.counts.pages), std::to_string(state.counts.terms), std::to_string(state.counts.ranked)});
    line(Event::kService, {servers < 0 ? "unknown" : servers > 0 ? "running" : "stopped"});
    line(Event::kUserData, {userData ? "1" : "0"});
    if (kept >= 0) line(Event::kKept, {KeptBeforeDemo(options.db), std::to_string(kept)});
    for (const SourceRecord& source : state.sources)
      line(Event::kSource, {source.at, source.kind, std::to_string(source.stored), std::to_string(source.bytes),
                            std::to_string(source.firstLines), source.address});
    line(Event::kDone, {"0"});
    return 0;
  }
  std::printf("%s%s: %s pages, %s search terms, %s ranked domains, %zu sources recorded\n", StoreName(options).c_str(),
              size >= 0 ? (" (" + protocol::Bytes(size) + ")").c_str() : "", WithThousands(state.counts.pages).c_str(),
              WithThousands(state.counts.terms).c_str(), WithThousands(state.counts.ranked).c_str(),
              state.sources.size());
  if (servers >= 0) std::printf("data service: %s\n", servers > 0 ? "running" : "not running");
  if (state.counts.terms > 0 && state.counts.pages == 0)
    std::printf("search volumes but no pages: every Supply is 0 until pages are stored (get crawl)\n");
  if (kept >= 0) std::printf("kept from before the demo data: %s\n", KeptBeforeDemo(options.db).c_str());
  return 0;
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
    if (command == "get") return Get(options);
    if (command == "sources" && options.positional.empty()) return Sources(options);
    if (command == "status" && options.positional.empty()) return Status(options);
    if (command == "stop" && options.positional.empty()) return Stop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillet-services %s: %s\n", command.c_str(), error.what());
    return 1;
  }
  PrintUsage();
  return 2;
}
