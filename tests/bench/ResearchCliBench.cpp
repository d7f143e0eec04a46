// Rows per second of quillet-research against the data service on the demo data, beside the
// program's own rate for the same topic: the research core with a window and a list that do
// nothing (what the program adds to that is drawing its list). Prints its figures.
//
// research_cli_bench [--db FILE] [--topic TEXT] [--runs N]: without --db the demo data set is
// built in a scratch folder first (a minute or two).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "net/FetchPage.h"
#include "research/CategoryResearch.h"
#include "tests/bench/NullRun.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackServer.h"

namespace {

using namespace quillet;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

int main(int argc, char** argv) {
  std::string db, topic = "dog training";
  int runs = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--db") db = argv[i + 1];
    if (name == "--topic") topic = argv[i + 1];
    if (name == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "quillet-cli-bench-XXXXXX").string();
  const std::filesystem::path scratch = mkdtemp(pattern.data());
  const auto file = [&](const char* name) { return (scratch / name).string(); };
  if (db.empty()) {
    db = file("demo.db");
    const auto start = Clock::now();
    test::ChildProcess demo(QUILLET_SERVICES_EXE, {"demo", "--db", db},
                            {.output = file("demo.out"), .error = file("demo.err")});
    if (demo.Wait() != 0) {
      std::fprintf(stderr, "research_cli_bench: the demo data set could not be built (see %s)\n",
                   file("demo.err").c_str());
      return 1;
    }
    std::printf("demo data set built in %.1f s\n", SecondsSince(start));
  }
  const std::string address = "127.0.0.1:" + std::to_string(test::RefusingPort());
  const std::string base = "http://" + address;
  int exitCode = 0;
  {
    test::ChildProcess service(QUILLET_SERVICES_EXE, {"serve", "--db", db, "--listen", address},
                               {.output = file("serve.out"), .error = file("serve.err")});
    for (int i = 0; i < 400 && FetchPage(base + "/data/details/?url=www.example.com").empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));

    bench::NullWindow window;
    bench::NullList list;
    bool stop = false;
    CategoryResearch research(
        window, list, [](const std::string& url) { return FetchPage(url); }, {base, base, base}, stop, '.');
    research.ResearchCategory(topic);  // warms the service's caches and counts the rows
    const double rows = list.rows;
    std::printf("topic \"%s\": %.0f rows a run, %d runs\n", topic.c_str(), rows, runs);
    const auto show = [&](const char* what, Clock::time_point start) {
      const double seconds = SecondsSince(start);
      std::printf("  %-42s %6.0f rows/s  (%.1f ms a run)\n", what, rows * runs / seconds, 1000 * seconds / runs);
    };
    const auto cli = [&](std::vector<std::string> args) {
      args.insert(args.end(), {"--service", address});
      if (test::ChildProcess(QUILLET_RESEARCH_EXE, args, {.output = "/dev/null", .error = file("cli.err")}).Wait() != 0)
        exitCode = 1;
    };

    auto start = Clock::now();
    for (int i = 0; i < runs; ++i) research.ResearchCategory(topic);
    show("the program (research core, null window)", start);
    start = Clock::now();
    for (int i = 0; i < runs; ++i) cli({"category", topic});
    show("quillet-research, one process a run", start);
    std::vector<std::string> all{"category"};
    all.insert(all.end(), runs, topic);
    start = Clock::now();
    cli(all);
    show("quillet-research, all runs in one process", start);
  }
  if (exitCode != 0)
    std::fprintf(stderr, "research_cli_bench: quillet-research failed (see %s)\n", file("cli.err").c_str());
  else std::filesystem::remove_all(scratch);
  return exitCode;
}
