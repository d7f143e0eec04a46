// quillet-services: the local stand-in for the keyword-suggestion service, the web search
// engine and the traffic statistics service, and the tools that fill its database.
#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "services/ClickHouseStore.h"
#include "services/Demo.h"
#include "services/HttpServer.h"
#include "services/Import.h"
#include "services/Input.h"
#include "services/Service.h"
#include "services/SqliteStore.h"

namespace {

using namespace quillet::services;

constexpr const char* kUsage =
    "usage:\n"
    "  quillet-services serve  [--db FILE] [--listen HOST:PORT] [--threads N]\n"
    "  quillet-services demo   [--db FILE] [--pages N] [--hosts N]\n"
    "  quillet-services import keywords|pages|ranks FILE... [--db FILE]\n"
    "each command takes, instead of --db, a ClickHouse store:\n"
    "  --clickhouse URL[,URL...] [--clickhouse-cluster NAME] [--clickhouse-db NAME]\n"
    "defaults: --db quillet-services.db, --listen 127.0.0.1:8790, --threads 16, --clickhouse-db quillet\n";

struct Options {
  std::string db = "quillet-services.db";
  std::string listen = "127.0.0.1:8790";
  int threads = limits::kDefaultWorkers;
  DemoOptions demo;
  ClickHouseOptions clickhouse;
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

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
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
    if (db->Code() == SQLITE_FULL || db->Code() == SQLITE_IOERR)
      what += " (is the disk full?)";
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
  if (server.Bind(host, port) < 0) {
    std::fprintf(stderr, "cannot listen on %s\n", options.listen.c_str());
    return 1;
  }
  if (!IsLoopback(host))
    std::printf("warning: the service has no access control; anyone who can reach %s can query it "
                "(see services/README.md, \"Sharing one service\")\n",
                options.listen.c_str());
  std::printf("serving %s on http://%s/\n", StoreName(options).c_str(), options.listen.c_str());
  std::fflush(stdout);
  return server.Run() ? 0 : 1;
}

int Demo(const Options& options) {
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
              StoreName(options).c_str(), static_cast<long long>(summary.keywords), static_cast<long long>(summary.pages),
              static_cast<long long>(summary.hosts), static_cast<long long>(summary.links),
              static_cast<long long>(summary.ranks), SecondsSince(start));
  return 0;
}

int Import(const Options& options) {
  if (options.positional.size() < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string& kind = options.positional[0];
  auto importer = kind == "keywords" ? ImportKeywords : kind == "pages" ? ImportPages : kind == "ranks" ? ImportRanks : nullptr;
  if (!importer) {
    std::fprintf(stderr, "unknown kind of data: %s (keywords, pages or ranks)\n", kind.c_str());
    return 2;
  }
  int status = 0;
  for (size_t f = 1; f < options.positional.size(); ++f) {
    const std::string& file = options.positional[f];
    auto start = std::chrono::steady_clock::now();
    long long shown = -1;
    auto progress = [&](std::int64_t done, std::int64_t total) {
      long long percent = total > 0 ? static_cast<long long>(done * 100 / total) : 100;
      if (percent != shown && SecondsSince(start) > 1.0) {
        std::fprintf(stderr, "\r%s: %3lld%%", file.c_str(), percent);
        shown = percent;
      }
      return true;
    };
    try {
      std::unique_ptr<StoreWriter> writer = OpenWriter(options);
      ImportReport report = importer(*writer, file, progress);
      writer->Commit();
      if (shown >= 0) std::fputc('\n', stderr);
      std::printf("%s: %s (%.1f s)\n", file.c_str(), report.Describe().c_str(), SecondsSince(start));
      if (report.NothingStored()) status = 1;
    } catch (const std::exception& error) {
      const char* what = dynamic_cast<const InputError*>(&error) ? "could not be read" : "failed";
      std::fprintf(stderr, "\n%s: import %s, nothing of it was stored: %s\n", file.c_str(), what,
                   Explain(error).c_str());
      status = 1;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // Past a file size limit a write should fail (and the import roll back), not kill us.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  Options options;
  if (argc < 2 || !ParseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string command = argv[1];
  try {
    if (command == "serve" && options.positional.empty()) return Serve(options);
    if (command == "demo" && options.positional.empty()) return Demo(options);
    if (command == "import") return Import(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillet-services %s: %s\n", command.c_str(), error.what());
    return 1;
  }
  std::fputs(kUsage, stderr);
  return 2;
}
