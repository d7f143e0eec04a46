// Load on the local data service over loopback, the way the program asks: one fresh
// connection per request. Prints requests per second and latency percentiles per endpoint,
// the database size and, when it builds one, how long the demo data set took.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "net/FetchPage.h"
#include "net/Text.h"
#include "services/Demo.h"
#include "services/HttpServer.h"
#include "services/Service.h"
#include "services/SqliteStore.h"

namespace {

using namespace quillet::services;
using Clock = std::chrono::steady_clock;

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
  auto at = [&](double share) { return latencies[std::min(latencies.size() - 1, static_cast<size_t>(share * latencies.size()))]; };
  // Hosts without a rank and phrases on no page are answered without the marker.
  std::printf("%-14s %6d requests %8.0f req/s   p50 %6.2f ms   p95 %6.2f ms   max %7.2f ms   no data %d\n",
              endpoint.name, requests, requests / seconds, at(0.5), at(0.95), latencies.back(), missing.load());
  return at(0.95);
}

}  // namespace

int main(int argc, char** argv) {
  std::string db;
  int requests = 2000, clients = 2;
  DemoOptions demo;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string arg = argv[i];
    if (arg == "--db") db = argv[i + 1];
    else if (arg == "--requests") requests = std::max(1, std::stoi(argv[i + 1]));
    else if (arg == "--clients") clients = std::max(1, std::stoi(argv[i + 1]));
    else if (arg == "--pages") demo.pages = std::stoi(argv[i + 1]);
  }
  std::filesystem::path scratch;
  if (db.empty()) {
    scratch = std::filesystem::temp_directory_path() / ("quillet-bench-" + std::to_string(::getpid()));
    db = (scratch / "demo.db").string();
    auto begin = Clock::now();
    DemoSummary summary = BuildDemo(db, demo, nullptr);
    std::printf("demo: %lld keywords, %lld pages, %lld hosts, %lld links, %lld ranks built in %.1f s\n",
                static_cast<long long>(summary.keywords), static_cast<long long>(summary.pages),
                static_cast<long long>(summary.hosts), static_cast<long long>(summary.links),
                static_cast<long long>(summary.ranks),
                std::chrono::duration<double>(Clock::now() - begin).count());
  }
  std::printf("database: %s, %.1f MB\n", db.c_str(), std::filesystem::file_size(db) / 1048576.0);

  std::vector<Endpoint> endpoints = {
      {"suggestion", " done ", {}}, {"phrase count", "of about", {}}, {"result list", "<li>", {}},
      {"link count", "of about", {}}, {"traffic rank", "traffic rank for ", {}}};
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

  SqliteReader store(db);
  Service service(store);
  HttpServer server(service);
  int port = server.Bind("127.0.0.1", 0);
  if (port <= 0) return 1;
  std::thread runner([&] { server.Run(); });
  std::printf("load: %d clients, one connection per request\n", clients);
  bool slow = false;
  for (const Endpoint& endpoint : endpoints) slow = Run(endpoint, port, requests, clients) >= kP95LimitMs || slow;
  server.Stop();
  runner.join();
  if (!scratch.empty()) std::filesystem::remove_all(scratch);
  if (slow) std::printf("too slow: a 95th percentile reached %.0f ms\n", kP95LimitMs);
  return slow ? 1 : 0;
}
