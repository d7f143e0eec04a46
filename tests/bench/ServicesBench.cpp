// Load on the local data service over loopback, the way the program asks: one fresh
// connection per request. Prints requests per second and latency percentiles per endpoint,
// the database size and, when it builds one, how long the demo data set took.
//
// --hostile adds what a shared server must bear, each with its goal: normal requests beside
// 256 idle and 64 trickling connections, beside 1,000 costly requests sent and reset, and
// beside 8 and 64 clients repeating the costliest phrase; requests to a paused ClickHouse
// server (128 waiting at once) and the pages that need no store meanwhile; the memory of the
// real program while huge requests arrive, while a ClickHouse port announces a gigabyte to
// every read, and while it imports huge files (sizes in MB: --body-mb, --header-mb,
// --line-mb, --import-mb; gigabytes by default, so this mode is run by hand, not in CI,
// whose tests run the same paths on small sizes).
//
// --synthetic N[,N...] --store sqlite|clickhouse|cluster measures a store at scale instead:
// it writes N synthetic pages (local ClickHouse servers are started in a scratch folder),
// then prints import throughput, storage per million pages and the p50/p95 of phrase counts
// for 2- and 3-word phrases of mixed frequency, and the ratio of the largest size's p95 to
// the smallest's. ClickHouse is timed twice: right after the import, and again once no server
// has a merge running. --keep DIR leaves a SQLite store in DIR, and a later run with the
// same DIR and size measures that store again without importing it (for a profiler).
#include <sys/socket.h>

#include <functional>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "net/FetchPage.h"
#include "net/Text.h"
#include "services/store/clickhouse/ClickHouseStore.h"
#include "services/program/Demo.h"
#include "services/serve/HttpServer.h"
#include "services/serve/Service.h"
#include "services/store/sqlite/SqliteStore.h"
#include "services/text/Words.h"
#include "tests/services/support/Child.h"
#include "tests/services/support/ClickHouseServers.h"
#include "tests/services/support/Clients.h"
#include "tests/services/support/FakeClickHouse.h"

namespace {

using namespace quillet::services;
using quillet::services::testing::Clock;
using quillet::services::testing::RawClient;
using std::chrono::milliseconds;

struct Endpoint {
  const char* name;
  const char* marker;  // every answer must carry it
  std::vector<std::string> targets;
};

std::vector<std::string> Strings(Database& db, const std::string& sql) {
  std::vector<std::string> out;
  Statement query = db.Prepare(sql);
  while (query.Step()) out.push_back(query.Text(0));
  return out;
}

constexpr double kP95LimitMs = 20.0;
constexpr double kCrowdedP95LimitMs = 50.0;
constexpr double kCostlyP95LimitMs = 100.0;
constexpr double kRequestMemoryLimitMb = 100.0;
constexpr double kNoStoreP95LimitMs = 10.0;
constexpr double kStalledWaitLimitMs = 1500.0;
constexpr double kImportMemoryLimitMb = 256.0;

// Returns the 95th percentile latency in milliseconds.
double Run(const Endpoint& endpoint, int port, int requests, int clients) {
  std::vector<double> latencies(static_cast<size_t>(requests));
  std::atomic<int> next{0}, missing{0};
  auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      for (int i = next++; i < requests; i = next++) {
        const std::string& target = endpoint.targets[static_cast<size_t>(i) % endpoint.targets.size()];
        auto begin = Clock::now();
        std::string page = quillet::FetchPage("http://127.0.0.1:" + std::to_string(port) + target);
        latencies[static_cast<size_t>(i)] = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
        if (page.find(endpoint.marker) == std::string::npos) ++missing;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double share) {
    return latencies[std::min(latencies.size() - 1, static_cast<size_t>(share * latencies.size()))];
  };
  // Hosts without a rank and phrases on no page are answered without the marker.
  std::printf("%-14s %6d requests %8.0f req/s   p50 %6.2f ms   p95 %6.2f ms   max %7.2f ms   no data %d\n",
              endpoint.name, requests, requests / seconds, at(0.5), at(0.95), latencies.back(), missing.load());
  return at(0.95);
}

bool Check(const char* what, double value, double limit, const char* unit) {
  bool ok = value < limit;
  std::printf("  %-58s %8.1f %s (goal: under %.0f)%s\n", what, value, unit, limit, ok ? "" : "  MISSED");
  return ok;
}

struct HostileSizes {
  size_t bodyMb = 1024, headerMb = 50, lineMb = 500, importMb = 1024;
};

// Normal requests of every kind while the server is crowded or busy.
bool CrowdedAndCostly(const Endpoint& mixed, int port, int requests, int clients) {
  bool ok = true;
  {
    std::vector<std::unique_ptr<RawClient>> idle, trickling;
    for (int i = 0; i < 256; ++i) idle.push_back(std::make_unique<RawClient>(port));
    for (int i = 0; i < 64; ++i) trickling.push_back(std::make_unique<RawClient>(port));
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
      const std::string request = testing::ProgramRequest("/search?p=%22dog+training%22");
      for (size_t at = 0; !stop; at = (at + 1) % request.size()) {
        for (auto& client : trickling) client->Send(request.substr(at, 1));
        std::this_thread::sleep_for(milliseconds(200));
      }
    });
    std::printf("beside 256 idle and 64 trickling connections:\n");
    ok = Check("p95 of normal requests", Run(mixed, port, requests, clients), kCrowdedP95LimitMs, "ms") && ok;
    stop = true;
    trickle.join();
  }
  std::string phrase = "/search?p=%22";
  for (int i = 0; i < 16; ++i) phrase += std::string(i ? "+" : "") + "the";
  phrase += "%22";
  {
    // Sent and reset within a fraction of a second, each a phrase of its own, while the
    // normal requests run.
    std::thread flood([&] {
      std::vector<std::unique_ptr<RawClient>> clients;
      for (int i = 0; i < 1000; ++i) {
        clients.push_back(std::make_unique<RawClient>(port));
        clients.back()->Send(
            testing::ProgramRequest(phrase + "&n=" + std::to_string(i % 100) + "&b=" + std::to_string(i)));
      }
      for (auto& client : clients) {
        linger reset{1, 0};
        setsockopt(client->Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      }
    });
    std::printf("beside 1,000 costly requests sent and reset:\n");
    ok = Check("p95 of normal requests", Run(mixed, port, requests, clients), kCostlyP95LimitMs, "ms") && ok;
    flood.join();
  }
  for (int repeating : {8, 64}) {
    std::atomic<bool> stop{false};
    std::atomic<int> costly{0}, cut{0};
    std::vector<std::thread> heavy;
    for (int t = 0; t < repeating; ++t)
      heavy.emplace_back([&] {
        while (!stop) {
          std::string answer = testing::Exchange(port, testing::ProgramRequest(phrase), milliseconds(10000));
          ++costly;
          if (testing::StatusOf(answer) == 503) ++cut;
        }
      });
    std::this_thread::sleep_for(milliseconds(200));
    std::printf("beside %d clients asking a phrase of 16 of the commonest word:\n", repeating);
    ok = Check("p95 of normal requests", Run(mixed, port, requests, clients), kCostlyP95LimitMs, "ms") && ok;
    stop = true;
    for (auto& thread : heavy) thread.join();
    std::printf("  (%d costly requests answered, %d of them with 503: cut short or refused at once)\n", costly.load(),
                cut.load());
  }
  return ok;
}

// The real program's memory while huge requests arrive and while it imports huge files.
bool Memory(const std::string& db, const std::filesystem::path& scratch, const HostileSizes& sizes) {
  bool ok = true;
  int port = testing::FreePort();
  testing::Child serve({"serve", "--db", db, "--listen", "127.0.0.1:" + std::to_string(port)},
                       {0, (scratch / "serve.out").string()});
  for (int i = 0; i < 200 && testing::StatusOf(testing::Exchange(port, testing::ProgramRequest("/"))) == 0; ++i)
    std::this_thread::sleep_for(milliseconds(50));
  double idle = testing::ResidentMb(serve.Pid(), false);
  auto flood = [&](const char* label, const std::string& start, size_t megabytes, char fill) {
    RawClient client(port);
    client.Send(start);
    std::string chunk(1 << 20, fill);
    size_t sent = 0;
    auto begin = Clock::now();
    while (sent < megabytes && client.Send(chunk)) ++sent;
    shutdown(client.Fd(), SHUT_WR);
    client.ClosedWithin(milliseconds(5000));
    std::printf("  %-24s %6zu MB sent in %.1f s before the server closed\n", label, sent,
                testing::MsSince(begin) / 1000.0);
  };
  std::printf("huge requests to the real program (idle %.1f MB):\n", idle);
  flood("a request body", "POST / HTTP/1.1\r\nContent-Length: 1000000000000\r\n\r\n", sizes.bodyMb, 'b');
  flood("headers", "GET / HTTP/1.1\r\nX-Many: ", sizes.headerMb, 'h');
  flood("a request line", "GET /", sizes.lineMb, 'l');
  ok = Check("peak resident memory above idle", testing::ResidentMb(serve.Pid(), true) - idle, kRequestMemoryLimitMb,
             "MB") &&
       ok;

  std::printf("imports of huge files by the real program:\n");
  const std::string line = R"({"url":"http://one.com/","text":")";
  const std::vector<std::pair<std::string, std::string>> files = {{"blank lines", "\n"}, {"one line", "a"}};
  for (const auto& [name, fill] : files) {
    std::string path = (scratch / "huge.jsonl").string();
    {
      std::ofstream out(path, std::ios::binary);
      if (fill == "a") out << line;
      std::string chunk(1 << 20, fill[0]);
      for (size_t i = 0; i < sizes.importMb; ++i) out << chunk;
      if (fill == "a") out << "\"}\n";
    }
    auto begin = Clock::now();
    testing::Child import({"import", "pages", path, "--db", (scratch / "import.db").string()},
                          {0, (scratch / "import.out").string()});
    import.WaitMeasuring();
    std::printf("  %zu MB of %-10s imported in %.1f s\n", sizes.importMb, name.c_str(),
                testing::MsSince(begin) / 1000.0);
    ok = Check(("peak resident memory, " + name).c_str(), import.PeakMb(), kImportMemoryLimitMb, "MB") && ok;
    std::filesystem::remove(path);
  }
  return ok;
}

// A ClickHouse server paused (SIGSTOP) under 128 clients with a request each: how long they
// wait for their 503, and the pages that need no store meanwhile.
bool PausedClickHouse() {
  testing::ClickHouseServers servers(1);
  ClickHouseOptions options;
  options.nodes = {servers.Url(0)};
  {
    ClickHouseWriter writer(options);
    DemoOptions small;
    small.pages = 2000;
    small.hosts = 100;
    WriteDemo(writer, small, nullptr);
    writer.Commit();
  }
  ClickHouseReader reader(options);
  Service service(reader);
  HttpServer server(service);
  int port = server.Bind("127.0.0.1", 0);
  std::thread runner([&] { server.Run(); });
  servers.Pause(0);
  std::atomic<bool> stop{false};
  std::vector<double> storeMs;
  std::mutex mutex;
  std::vector<std::thread> waiting;
  for (int t = 0; t < 128; ++t)
    waiting.emplace_back([&, t] {
      // Each client asks again 100 ms after it last asked, as a program retrying would; one
      // that asked again the moment it had its 503 would measure the loop's speed instead.
      for (int i = 0; !stop; ++i) {
        auto begin = Clock::now();
        testing::Exchange(port,
                          testing::ProgramRequest("/search?p=%22dog+training+" + std::to_string(t * 1000 + i) + "%22"),
                          milliseconds(10000));
        {
          std::lock_guard<std::mutex> lock(mutex);
          storeMs.push_back(testing::MsSince(begin));
        }
        std::this_thread::sleep_until(begin + milliseconds(100));
      }
    });
  // From the start: the first requests wait out the first budget, until the stall is seen.
  std::this_thread::sleep_for(milliseconds(50));
  Endpoint noStore{"no store", "</html>", {"/no/such/page", "/d/searchinventory/suggestion/?term=&mkt=us", "/"}};
  std::printf("a paused ClickHouse server, 128 requests waiting at once:\n");
  bool ok = Check("p95 of 404s and pages without store", Run(noStore, port, 8000, 2), kNoStoreP95LimitMs, "ms");
  stop = true;
  for (auto& thread : waiting) thread.join();
  servers.Resume(0);
  std::sort(storeMs.begin(), storeMs.end());
  std::printf("  store requests meanwhile: %zu, p50 %.1f ms, p95 %.1f ms, max %.1f ms (all 503)\n", storeMs.size(),
              storeMs[storeMs.size() / 2], storeMs[storeMs.size() * 95 / 100], storeMs.back());
  // The budget (1 s), not the budgets of all those queued before it.
  ok = Check("longest wait for a 503", storeMs.back(), kStalledWaitLimitMs, "ms") && ok;
  server.Stop();
  runner.join();
  return ok;
}

// The real program's memory while its ClickHouse port announces a gigabyte to every read and
// sends it at full speed.
bool GigabyteAnnounced(const std::filesystem::path& scratch) {
  const std::string piece(64 * 1024, 'x');
  testing::FakeClickHouse fake([&](testing::FakeClickHouse& s, int fd) {
    if (!s.Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\n")) return;
    while (s.Send(fd, piece)) {
    }
  });
  int port = testing::FreePort();
  testing::Child serve({"serve", "--clickhouse", fake.Url(), "--listen", "127.0.0.1:" + std::to_string(port)},
                       {0, (scratch / "serve-fake.out").string()});
  for (int i = 0; i < 200 && testing::StatusOf(testing::Exchange(port, testing::ProgramRequest("/"))) == 0; ++i)
    std::this_thread::sleep_for(milliseconds(50));
  double idle = testing::ResidentMb(serve.Pid(), false);
  std::vector<std::thread> clients;
  auto begin = Clock::now();
  for (int t = 0; t < 16; ++t)
    clients.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i)
        testing::Exchange(
            port, testing::ProgramRequest("/search?p=link%3Ahttp%3A%2F%2Fh" + std::to_string(t * 10 + i) + ".com"));
    });
  for (auto& client : clients) client.join();
  std::printf("a ClickHouse port announcing 1 GiB to each of 80 reads (answered in %.1f s, idle %.1f MB):\n",
              testing::MsSince(begin) / 1000.0, idle);
  return Check("peak resident memory above idle", testing::ResidentMb(serve.Pid(), true) - idle, kRequestMemoryLimitMb,
               "MB");
}

// Pages of words drawn from a Zipf-distributed vocabulary, so that phrases range from very
// common to rare. Page i is the same in every run.
class SyntheticPages {
 public:
  explicit SyntheticPages(std::int64_t pages) : sites_(std::max<std::int64_t>(1, pages / 20)) {
    double total = 0;
    for (int rank = 1; rank <= kVocabulary; ++rank) {
      std::string word;
      for (int n = rank; n > 0; n /= 26) word += static_cast<char>('a' + n % 26);
      words_.push_back(word + (rank % 7 == 0 ? "s" : ""));
      cumulative_.push_back(total += 1.0 / rank);
    }
  }
  std::int64_t Sites() const { return sites_; }
  static std::string Site(std::int64_t site) { return "site" + std::to_string(site) + ".example"; }
  PageInput Page(std::int64_t i) const {
    std::uint64_t state = static_cast<std::uint64_t>(i) * 0x9E3779B97F4A7C15ull + 1;
    auto next = [&] {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      return state;
    };
    auto text = [&](int count) {
      std::string out;
      for (int w = 0; w < count; ++w) {
        double target = static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0) * cumulative_.back();
        size_t k =
            static_cast<size_t>(std::upper_bound(cumulative_.begin(), cumulative_.end(), target) - cumulative_.begin());
        out += (w ? " " : "") + words_[std::min(k, words_.size() - 1)];
      }
      return out;
    };
    std::string site = Site(i % sites_);
    return {"http://" + site + "/p" + std::to_string(i),
            text(6),
            text(30 + static_cast<int>(next() % 30)),
            {"http://site" + std::to_string(next() % static_cast<std::uint64_t>(sites_)) + ".example/"}};
  }

 private:
  static constexpr int kVocabulary = 50000;
  std::int64_t sites_;
  std::vector<std::string> words_;
  std::vector<double> cumulative_;
};

// p95 of a 100-page result list at 10 million pages.
constexpr double kSqliteListGoalMs = 200;
constexpr double kClickHouseListGoalMs = 100;
// p95 of a 2-word phrase count on two shards at 10 million pages.
constexpr double kClusterCountGoalMs = 20;

struct ScaleFigures {
  double p95 = 0;
};

// Waits until no server merges parts any more (at most an hour); returns the seconds waited
// and the number of active parts of the posting table on each server.
std::pair<double, std::string> SettleMerges(const testing::ClickHouseServers& servers, const std::string& database) {
  auto begin = Clock::now();
  auto ask = [&](int i, const std::string& sql) {
    return std::stoll(ClickHouseNode(servers.Url(i)).Run(sql, Deadline::In(std::chrono::seconds(30)), 100));
  };
  for (int quiet = 0; quiet < 3 && Clock::now() - begin < std::chrono::hours(1);) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long long merging = 0;
    for (int i = 0; i < servers.Count(); ++i) merging += ask(i, "SELECT count() FROM system.merges");
    quiet = merging == 0 ? quiet + 1 : 0;
  }
  std::string parts;
  for (int i = 0; i < servers.Count(); ++i)
    parts += (i ? "/" : "") + std::to_string(ask(i, "SELECT count() FROM system.parts WHERE active AND database = " +
                                                        SqlString(database) + " AND table = 'grams'"));
  return {std::chrono::duration<double>(Clock::now() - begin).count(), parts};
}

// One store at one size: import, storage, phrase counts.
ScaleFigures Scale(const std::string& kind, std::int64_t pages, const std::filesystem::path& scratch, bool keep) {
  std::unique_ptr<testing::ClickHouseServers> servers;
  ClickHouseOptions options;
  std::string path = (scratch / ("scale" + std::to_string(pages) + ".db")).string();
  if (kind != "sqlite") {
    servers = std::make_unique<testing::ClickHouseServers>(kind == "cluster" ? 2 : 1);
    options.nodes = {servers->Url(0)};
    if (kind == "cluster") {
      options.nodes.push_back(servers->Url(1));
      options.cluster = testing::ClickHouseServers::kCluster;
    }
  }
  SyntheticPages synthetic(pages);
  auto begin = Clock::now();
  bool reused = !servers && keep && std::filesystem::exists(path);
  if (!reused) {
    std::unique_ptr<StoreWriter> writer;
    if (servers) writer = std::make_unique<ClickHouseWriter>(options);
    else writer = std::make_unique<SqliteWriter>(path, SqliteWriter::Mode::Bulk);
    for (std::int64_t i = 0; i < pages; ++i) writer->AddPage(synthetic.Page(i));
    // A third of the sites ranked, in an order unrelated to their pages', as a web-graph
    // rank list would rank them: result lists then sort every match they look at.
    for (std::int64_t site = 0; site < synthetic.Sites(); site += 3)
      writer->PutRank(SyntheticPages::Site(site), 1 + site * 7919 % synthetic.Sites());
    writer->Commit();
  }
  double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  double bytes =
      servers ? static_cast<double>(servers->DiskBytes()) : static_cast<double>(std::filesystem::file_size(path));
  std::unique_ptr<StoreReader> reader;
  if (servers) reader = std::make_unique<ClickHouseReader>(options);
  else reader = std::make_unique<SqliteReader>(path);

  std::printf("%-10s %10lld pages  ", kind.c_str(), static_cast<long long>(pages));
  if (reused) std::printf("kept from an earlier run  ");
  else std::printf("import %7.1f s %9.0f pages/s  ", seconds, pages / seconds);
  std::printf("%8.1f MB per million pages\n", bytes / 1048576.0 / (pages / 1e6));
  // Phrases cut from random pages: common words make common phrases, rare ones rare.
  auto phrasesOf = [&](size_t length) {
    std::vector<std::string> phrases;
    for (std::int64_t k = 0; phrases.size() < 300; ++k) {
      std::vector<std::string> words =
          Words(synthetic.Page((k * 7919 + static_cast<std::int64_t>(length)) % pages).text);
      size_t at = static_cast<size_t>(k) % (words.size() - length);
      std::string phrase;
      for (size_t w = at; w < at + length; ++w) phrase += (w > at ? " " : "") + words[w];
      phrases.push_back(phrase);
    }
    return phrases;
  };
  const std::vector<std::string> phrases[] = {{}, {}, phrasesOf(2), phrasesOf(3)};  // by length
  auto percentile = [](std::vector<double>& latencies, size_t percent) {
    std::sort(latencies.begin(), latencies.end());
    return latencies[latencies.size() * percent / 100];
  };
  // Prints the p50 and p95 of phrase counts and returns the p95.
  auto timeCounts = [&](size_t length, const std::vector<std::string>& phrases) {
    std::vector<double> latencies;
    std::int64_t matches = 0;
    for (int pass = 0; pass < 2; ++pass) {  // the first warms the caches
      latencies.clear();
      for (const std::string& phrase : phrases) {
        auto start = Clock::now();
        matches += reader->CountMatches({phrase, true}, Deadline::None());
        latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      }
    }
    double p50 = percentile(latencies, 50), p95 = percentile(latencies, 95);
    std::printf("           %zu-word phrase counts: p50 %7.2f ms  p95 %7.2f ms  (%.0f pages per phrase on average)",
                length, p50, p95, matches / 2.0 / static_cast<double>(phrases.size()));
    // The goal is the cluster's, from the first minute after an import of ten million pages.
    if (kind == "cluster" && length == 2)
      std::printf(" (goal: at most %.0f)%s", kClusterCountGoalMs, p95 <= kClusterCountGoalMs ? "" : "  MISSED");
    std::printf("\n");
    return p95;
  };

  if (servers) {
    // Right after a large import the servers are still busy with it for a while (merges, and
    // writing out what they hold): measured then, and again once they are quiet.
    std::printf("           right after the import:\n");
    for (size_t length : {2, 3}) timeCounts(length, phrases[length]);
    auto settled = SettleMerges(*servers, options.database);
    std::printf("           again, no merge running (waited %.0f s; %s active parts of grams per server):\n",
                settled.first, settled.second.c_str());
  }
  ScaleFigures figures;
  for (size_t length : {2, 3}) {
    figures.p95 = std::max(figures.p95, timeCounts(length, phrases[length]));
    // The result list the program asks for next: a hundred pages, at most two per site.
    std::vector<double> latencies;
    for (size_t k = 0; k < phrases[length].size(); k += 3) {
      auto start = Clock::now();
      reader->FindPages({phrases[length][k], true}, 0, 100, Deadline::None());
      latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    double listGoal = servers ? kClickHouseListGoalMs : kSqliteListGoalMs;
    double listP95 = percentile(latencies, 95);
    std::printf("           %zu-word result lists of 100: p50 %7.2f ms  p95 %7.2f ms (goal: at most %.0f)%s\n", length,
                percentile(latencies, 50), listP95, listGoal, listP95 <= listGoal ? "" : "  MISSED");
  }
  if (!keep) std::filesystem::remove(path);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  std::string db;
  int requests = 2000, clients = 2;
  bool hostile = false;
  HostileSizes sizes;
  DemoOptions demo;
  std::string storeKind = "sqlite";
  std::vector<std::int64_t> synthetic;
  std::filesystem::path keep;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto number = [&] { return i + 1 < argc ? std::stoi(argv[++i]) : 0; };
    if (arg == "--db" && i + 1 < argc) db = argv[++i];
    else if (arg == "--requests") requests = std::max(1, number());
    else if (arg == "--clients") clients = std::max(1, number());
    else if (arg == "--pages") demo.pages = number();
    else if (arg == "--hostile") hostile = true;
    else if (arg == "--store" && i + 1 < argc) storeKind = argv[++i];
    else if (arg == "--keep" && i + 1 < argc) keep = argv[++i];
    else if (arg == "--synthetic" && i + 1 < argc)
      for (const std::string& size : SplitNodeList(argv[++i])) synthetic.push_back(std::stoll(size));
    else if (arg == "--body-mb") sizes.bodyMb = static_cast<size_t>(std::max(0, number()));
    else if (arg == "--header-mb") sizes.headerMb = static_cast<size_t>(std::max(0, number()));
    else if (arg == "--line-mb") sizes.lineMb = static_cast<size_t>(std::max(0, number()));
    else if (arg == "--import-mb") sizes.importMb = static_cast<size_t>(std::max(0, number()));
  }
  std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("quillet-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(scratch);
  if (!synthetic.empty()) {
    std::vector<ScaleFigures> figures;
    for (std::int64_t pages : synthetic)
      figures.push_back(Scale(storeKind, pages, keep.empty() ? scratch : keep, !keep.empty()));
    if (figures.size() > 1)
      std::printf("p95 at %lld pages / p95 at %lld pages: %.2f\n", static_cast<long long>(synthetic.back()),
                  static_cast<long long>(synthetic.front()), figures.back().p95 / figures.front().p95);
    std::filesystem::remove_all(scratch);
    return 0;
  }
  if (db.empty()) {
    db = (scratch / "demo.db").string();
    auto begin = Clock::now();
    DemoSummary summary = BuildDemo(db, demo, nullptr);
    std::printf("demo: %lld keywords, %lld pages, %lld hosts, %lld links, %lld ranks built in %.1f s\n",
                static_cast<long long>(summary.keywords), static_cast<long long>(summary.pages),
                static_cast<long long>(summary.hosts), static_cast<long long>(summary.links),
                static_cast<long long>(summary.ranks), std::chrono::duration<double>(Clock::now() - begin).count());
  }
  std::printf("database: %s, %.1f MB\n", db.c_str(), std::filesystem::file_size(db) / 1048576.0);

  std::vector<Endpoint> endpoints = {{"suggestion", " done ", {}},
                                     {"phrase count", "of about", {}},
                                     {"result list", "<li>", {}},
                                     {"link count", "of about", {}},
                                     {"traffic rank", "traffic rank for ", {}}};
  {
    Database data(db, Database::Mode::ReadOnly);
    // A fixed spread of what the program would ask: topics, their terms, and result hosts.
    for (const std::string& term : Strings(data, "SELECT term FROM keywords ORDER BY searches DESC, term LIMIT 2000")) {
      std::string plus = quillet::ReplaceAll(term, " ", "+");
      std::string topic = term.substr(0, term.find(' ', term.find(' ') + 1));
      endpoints[0].targets.push_back("/d/searchinventory/suggestion/?term=" + quillet::ReplaceAll(topic, " ", "%20") +
                                     "&mkt=us&lang=en_US");
      endpoints[1].targets.push_back("/search?p=%22" + plus + "%22");
      endpoints[2].targets.push_back("/search?p=%22" + plus + "%22&ei=UTF-8&n=20&b=1");
    }
    for (const std::string& host : Strings(data, "SELECT name FROM hosts ORDER BY id LIMIT 2000")) {
      endpoints[3].targets.push_back("/search?p=link%3Ahttp%3A%2F%2Fwww." + host);
      endpoints[4].targets.push_back("/data/details/?url=www." + host);
    }
  }
  // Every kind of request in turn, with the marker they all carry.
  Endpoint mixed{"all kinds", "</html>", {}};
  for (size_t i = 0; i < 2000; ++i)
    mixed.targets.push_back(endpoints[i % endpoints.size()].targets[i / endpoints.size()]);

  SqliteReader store(db);
  Service service(store);
  HttpServer server(service);
  int port = server.Bind("127.0.0.1", 0);
  if (port <= 0) return 1;
  std::thread runner([&] { server.Run(); });
  std::printf("load: %d clients, one connection per request\n", clients);
  bool ok = true;
  for (const Endpoint& endpoint : endpoints) {
    if (Run(endpoint, port, requests, clients) >= kP95LimitMs) {
      std::printf("  too slow: the 95th percentile reached %.0f ms\n", kP95LimitMs);
      ok = false;
    }
  }
  if (hostile) ok = CrowdedAndCostly(mixed, port, requests, clients) && ok;
  server.Stop();
  runner.join();
  if (hostile) ok = Memory(db, scratch, sizes) && ok;
  if (hostile) ok = GigabyteAnnounced(scratch) && ok;
  if (hostile) ok = PausedClickHouse() && ok;
  std::filesystem::remove_all(scratch);
  return ok ? 0 : 1;
}
