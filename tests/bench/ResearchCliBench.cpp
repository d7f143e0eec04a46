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
#include "tests/cli/ChildProgram.h"
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
    test::ChildProgram demo(QUILLET_SERVICES_EXE, {"demo", "--db", db}, file("demo.out"), file("demo.err"));
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
    test::ChildProgram service(QUILLET_SERVICES_EXE, {"serve", "--db", db, "--listen", address}, file("serve.out"),
                               file("serve.err"));
    for (int i = 0; i < 400 && FetchPage(base + "/data/details/?url=www.example.com").empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));

    bench::NullWindow window;
    bench::NullList list;
    bool stop = false;
    CategoryResearch research(
        window, list, [](const std::string& url) { return FetchPage(url); }, {base, base, base}, stop, '.');
    research.ResearchCategory(topic);  // warm the service's caches
    const RowHandle rows = list.rows;
    list.rows = 0;
    auto start = Clock::now();
    for (int i = 0; i < runs; ++i) research.ResearchCategory(topic);
    const double core = SecondsSince(start);
    std::printf("topic \"%s\": %u rows a run, %d runs\n", topic.c_str(), static_cast<unsigned>(rows), runs);
    std::printf("  the program (research core, null window):  %8.0f rows/s  (%.1f ms a run)\n", list.rows / core,
                1000 * core / runs);

    start = Clock::now();
    for (int i = 0; i < runs; ++i) {
      test::ChildProgram cli(QUILLET_RESEARCH_EXE, {"category", topic, "--service", address}, "/dev/null",
                             file("cli.err"));
      if (cli.Wait() != 0) exitCode = 1;
    }
    const double separate = SecondsSince(start);
    std::printf("  quillet-research, one process a run:       %8.0f rows/s  (%.1f ms a run)\n", rows * runs / separate,
                1000 * separate / runs);

    std::vector<std::string> args{"category"};
    for (int i = 0; i < runs; ++i) args.push_back(topic);
    args.insert(args.end(), {"--service", address});
    start = Clock::now();
    test::ChildProgram many(QUILLET_RESEARCH_EXE, args, "/dev/null", file("cli.err"));
    if (many.Wait() != 0) exitCode = 1;
    const double together = SecondsSince(start);
    std::printf("  quillet-research, the %d runs in one:      %8.0f rows/s  (%.1f ms a run)\n", runs,
                rows * runs / together, 1000 * together / runs);
  }
  if (exitCode != 0)
    std::fprintf(stderr, "research_cli_bench: quillet-research failed (see %s)\n", file("cli.err").c_str());
  else std::filesystem::remove_all(scratch);
  return exitCode;
}
