// What open data costs the data service, each figure with its goal:
// - the exact-phrase count of known terms on the demo data and on a store with 10 times the
//   pages (p95 of each and their ratio; the full-text index's own count for comparison);
// - a pageview hour of --titles distinct titles, into a new store and into the demo data:
//   time per term and peak memory;
// - importing generated crawl archives (metadata, then plain text) of --archive-mb MB of gzip
//   each with the real program, into the store of those titles: MB/s of compressed input and
//   peak resident memory, beside what reading them alone (no store) runs at.
// It writes gigabytes (about 2 GB for the 10x store) and runs for minutes, so it is run by
// hand (scripts/bench), not in CI. --pages sets the demo size (10x is built too).
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "services/import/Importers.h"
#include "services/program/Demo.h"
#include "services/store/sqlite/SqliteStore.h"
#include "tests/services/support/Child.h"

namespace {

using namespace quillet::services;
using Clock = std::chrono::steady_clock;

constexpr double kRatioGoal = 1.5;
// Compressed input per second: crawl text, and crawl metadata (less text to index per MB).
constexpr double kTextGoalMbs = 20.0;
constexpr double kMetadataGoalMbs = 30.0;
constexpr double kMemoryGoalMb = 256.0;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

bool Check(const std::string& what, double value, double goal, bool under, const char* unit) {
  bool ok = under ? value <= goal : value >= goal;
  std::printf("  %-56s %9.2f %-5s (goal: %s %.1f)%s\n", what.c_str(), value, unit, under ? "at most" : "at least", goal,
              ok ? "" : "  MISSED");
  return ok;
}

double Percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(share * static_cast<double>(values.size())))];
}

// p95 in microseconds of the served count and of the index's own count, over the most
// searched terms.
std::pair<double, double> PhraseCountP95(const std::string& db) {
  std::vector<std::string> terms;
  {
    Database data(db, Database::Mode::ReadOnly);
    Statement top = data.Prepare("SELECT term FROM keywords ORDER BY searches DESC, term LIMIT 2000");
    while (top.Step()) terms.push_back(top.Text(0));
  }
  SqliteReader store(db);
  // A first round that is not timed: the file's pages in memory, as on a serving machine.
  for (const std::string& term : terms) store.CountMatches({term, true}, Deadline::None());
  std::vector<double> served, index;
  for (int round = 0; round < 10; ++round) {
    for (const std::string& term : terms) {
      auto begin = Clock::now();
      store.CountMatches({term, true}, Deadline::None());
      served.push_back(Seconds(begin) * 1e6);
    }
  }
  Database direct(db, Database::Mode::ReadOnly);
  direct.Exec("PRAGMA mmap_size = 268435456");
  Statement count = direct.Prepare("SELECT count(*) FROM page_text WHERE page_text MATCH ?1");
  for (const std::string& term : terms) {
    auto begin = Clock::now();
    count.Bind(1, MatchExpression(term, true));
    count.Step();
    count.Reset();
    index.push_back(Seconds(begin) * 1e6);
  }
  std::printf("  %-40s served p50 %8.1f us  p95 %8.1f us | index p50 %9.1f us  p95 %9.1f us\n",
              std::filesystem::path(db).filename().c_str(), Percentile(served, 0.5), Percentile(served, 0.95),
              Percentile(index, 0.5), Percentile(index, 0.95));
  return {Percentile(served, 0.95), Percentile(index, 0.95)};
}

// Reproducible text with a long-tailed vocabulary, about as compressible as real page text.
class TextMaker {
 public:
  TextMaker() {
    const char* syllables[] = {"ka", "lo", "mi", "ne", "ru", "ta", "po", "si", "an", "er",
                               "in", "on", "us", "el", "ar", "is", "te", "ve", "ro", "di",
                               "ma", "lu", "co", "ge", "ba", "fi", "ho", "ja", "qu", "xe"};
    for (const char* common : {"the", "of", "and", "to", "a", "in", "is", "for", "on", "that", "with", "as", "it"})
      words_.push_back(common);
    while (words_.size() < 50000) {
      std::string word;
      for (std::uint64_t n = 1 + Next() % 4; n > 0; --n) word += syllables[Next() % 30];
      words_.push_back(word);
    }
    double total = 0;
    for (size_t i = 0; i < words_.size(); ++i) cumulative_.push_back(total += 1.0 / static_cast<double>(i + 1));
  }
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  const std::string& Word() {
    double target = static_cast<double>(Next() >> 11) / 9007199254740992.0 * cumulative_.back();
    size_t i =
        static_cast<size_t>(std::lower_bound(cumulative_.begin(), cumulative_.end(), target) - cumulative_.begin());
    return words_[std::min(i, words_.size() - 1)];
  }
  std::string Sentence(size_t most) {
    std::string text;
    for (size_t n = 3 + Next() % most; n > 0; --n) text += (text.empty() ? "" : " ") + Word();
    return text;
  }

 private:
  std::uint64_t state_ = 20240518;
  std::vector<std::string> words_;
  std::vector<double> cumulative_;
};

// Writes gzip members, one per record, as the crawl archives are packed.
class GzipWriter {
 public:
  explicit GzipWriter(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}
  ~GzipWriter() { std::fclose(file_); }
  void Member(const std::string& bytes) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    out_.resize(deflateBound(&z, static_cast<uLong>(bytes.size())) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out_.data());
    z.avail_out = static_cast<uInt>(out_.size());
    deflate(&z, Z_FINISH);
    std::fwrite(out_.data(), 1, z.total_out, file_);
    written_ += static_cast<std::int64_t>(z.total_out);
    deflateEnd(&z);
  }
  std::int64_t Written() const { return written_; }

 private:
  std::FILE* file_;
  std::string out_;
  std::int64_t written_ = 0;
};

std::string Record(const char* type, const std::string& url, const std::string& block) {
  return std::string("WARC/1.0\r\nWARC-Type: ") + type + "\r\nWARC-Target-URI: " + url +
         "\r\nWARC-Date: 2024-05-18T01:58:10Z\r\nWARC-Record-ID: <urn:uuid:6e9c1d0a-1b2c-4d3e-8f90-123456789abc>\r\n"
         "Content-Type: " +
         (std::string(type) == "metadata" ? "application/json" : "text/plain") +
         "\r\nContent-Length: " + std::to_string(block.size()) + "\r\n\r\n" + block + "\r\n\r\n";
}

std::string Url(std::uint64_t page) {
  return "http://www.site" + std::to_string(page % 20000) + ".example/" + std::to_string(page) + ".html";
}

// A plain-text archive and the matching metadata archive, each about megabytes of gzip.
void WriteArchives(const std::string& wet, const std::string& wat, std::int64_t megabytes, TextMaker& text) {
  GzipWriter textOut(wet), metaOut(wat);
  textOut.Member(Record("warcinfo", "", "software: import_bench\r\n"));
  metaOut.Member(Record("warcinfo", "", "software: import_bench\r\n"));
  const std::int64_t goal = megabytes << 20;
  for (std::uint64_t page = 0; textOut.Written() < goal || metaOut.Written() < goal; ++page) {
    std::string url = Url(page);
    if (textOut.Written() < goal) {
      std::string body;
      for (std::uint64_t lines = 5 + text.Next() % 40; lines > 0; --lines) body += text.Sentence(20) + ".\n";
      textOut.Member(Record("conversion", url, body));
    }
    if (metaOut.Written() < goal) {
      std::string links;
      for (std::uint64_t n = 10 + text.Next() % 60; n > 0; --n) {
        std::uint64_t kind = text.Next() % 10;
        std::string target = kind < 3   ? Url(text.Next())
                             : kind < 9 ? "/" + text.Word() + "/" + text.Word()
                                        : "//cdn.example/i.png";
        links += std::string(links.empty() ? "" : ",") + R"({"path":")" + (kind == 9 ? "IMG@/src" : "A@/href") +
                 R"(","url":")" + target + R"(","text":")" + text.Word() + R"("})";
      }
      std::string json =
          R"({"Container":{"Filename":"bench.warc.gz","Compressed":true,"Offset":"1234","Gzip-Metadata":{"Deflate-Length":"2345"}},)"
          R"("Envelope":{"Format":"WARC","WARC-Header-Length":"600","Block-Digest":"sha1:ABCDEFGHIJKLMNOP","Actual-Content-Length":"23456",)"
          R"("WARC-Header-Metadata":{"WARC-Type":"response","WARC-Date":"2024-05-18T01:58:10Z","WARC-Target-URI":")" +
          url +
          R"(","Content-Length":"23456"},"Payload-Metadata":{"Actual-Content-Type":"application/http; msgtype=response",)"
          R"("HTTP-Response-Metadata":{"Response-Message":{"Version":"HTTP/1.1","Status":"200","Reason":"OK"},)"
          R"("Headers":{"Server":"nginx","Content-Type":"text/html; charset=UTF-8","Cache-Control":"max-age=600"},)"
          R"("HTML-Metadata":{"Head":{"Title":")" +
          text.Sentence(8) + R"(","Metas":[{"name":"description","content":")" + text.Sentence(20) +
          R"("}],"Link":[{"path":"LINK@/href","url":"/style.css","rel":"stylesheet"}]},"Links":[)" + links +
          R"(]},"Entity-Length":"23000"}}}})";
      metaOut.Member(Record("metadata", url, R"({"Envelope":{"WARC-Header-Metadata":{"WARC-Type":"request"}}})"));
      metaOut.Member(Record("metadata", url, json));
    }
  }
}

// Reading alone, with a store that keeps nothing: what the readers cost without the store.
class NullWriter : public StoreWriter {
 public:
  Put PutKeyword(const std::string&, std::int64_t) override { return Put::Added; }
  Put PutRank(const std::string&, std::int64_t) override { return Put::Added; }
  bool AddPage(const PageInput&) override { return true; }
  Merge MergePage(const PageInput&) override { return Merge::Added; }
  void TallyKeyword(const std::string&, std::int64_t) override {}
  TallyResult StoreTally(std::int64_t, std::int64_t) override { return {}; }
  void Mark() override {}
  void ReleaseMark() override {}
  void RollBackToMark() override {}
  void Commit() override {}
};

struct Measured {
  double seconds = 0, peakMb = 0;
  int exit = 0;
};

Measured RunImport(const std::vector<std::string>& args, const std::filesystem::path& scratch) {
  auto begin = Clock::now();
  quillet::services::testing::Child child(args, {0, (scratch / "import.out").string()});
  Measured measured;
  measured.exit = child.WaitMeasuring();
  measured.seconds = Seconds(begin);
  measured.peakMb = child.PeakMb();
  if (measured.exit != 0)
    std::printf("  import failed:\n%s\n",
                quillet::services::testing::ReadFile((scratch / "import.out").string()).c_str());
  return measured;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures as they come, in a log too
  DemoOptions demo;
  std::int64_t archiveMb = 200, titles = 1000000;
  std::string scratchDir;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto number = [&] { return i + 1 < argc ? std::stoll(argv[++i]) : 0LL; };
    if (arg == "--pages") demo.pages = static_cast<int>(number());
    else if (arg == "--archive-mb") archiveMb = std::max(1LL, number());
    else if (arg == "--titles") titles = std::max(1LL, number());
    else if (arg == "--scratch" && i + 1 < argc) scratchDir = argv[++i];
  }
  std::filesystem::path scratch =
      scratchDir.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(scratchDir);
  scratch /= "quillet-import-bench-" + std::to_string(::getpid());
  std::filesystem::create_directories(scratch);
  bool ok = true;

  std::printf("known-phrase counts, %d and %d pages:\n", demo.pages, demo.pages * 10);
  const std::string small = (scratch / "demo.db").string(), large = (scratch / "demo-10x.db").string();
  auto begin = Clock::now();
  BuildDemo(small, demo, nullptr);
  std::printf("  demo built in %.1f s, %.0f MB\n", Seconds(begin), std::filesystem::file_size(small) / 1048576.0);
  DemoOptions tenfold = demo;
  tenfold.pages *= 10;
  begin = Clock::now();
  BuildDemo(large, tenfold, nullptr);
  std::printf("  10x demo built in %.1f s, %.0f MB\n", Seconds(begin), std::filesystem::file_size(large) / 1048576.0);
  auto [servedSmall, indexSmall] = PhraseCountP95(small);
  auto [servedLarge, indexLarge] = PhraseCountP95(large);
  std::printf("  index's own count at 10x pages: p95 %.1f times that of the demo\n", indexLarge / indexSmall);
  ok = Check("served count at 10x pages: p95 ratio", servedLarge / servedSmall, kRatioGoal, true, "x") && ok;
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(large + suffix);

  // Demand first, so that the archives meet a store of many known phrases, as they would.
  std::printf("pageview hours of %lld distinct titles:\n", static_cast<long long>(titles));
  const std::string views = (scratch / "pageviews.gz").string(), crawl = (scratch / "crawl.db").string();
  {
    TextMaker text;
    GzipWriter out(views);
    std::string chunk;
    for (std::int64_t i = 0; i < titles; ++i) {
      chunk += "en " + text.Word() + "_" + text.Word() + "_" + std::to_string(i) + " " +
               std::to_string(1 + text.Next() % 50) + " 0\n";
      if (chunk.size() > (1 << 20)) {
        out.Member(chunk);
        chunk.clear();
      }
    }
    out.Member(chunk);
  }
  for (const auto& [what, db] : {std::pair{"into a new store", crawl}, std::pair{"into the demo data", small}}) {
    Measured run = RunImport({"import", "pageviews", views, "--db", db}, scratch);
    ok = run.exit == 0 && ok;
    std::printf("  %-20s %.1f s, %.1f us per term\n", what, run.seconds,
                run.seconds * 1e6 / static_cast<double>(titles));
    ok = Check(std::string("import pageviews ") + what + ": peak resident memory", run.peakMb, kMemoryGoalMb, true,
               "MB") &&
         ok;
  }
  std::filesystem::remove(views);

  // Metadata first: the pages it makes then take their text without being indexed twice.
  std::printf("crawl archives of %lld MB of gzip each, into the store of known titles:\n",
              static_cast<long long>(archiveMb));
  const std::string wet = (scratch / "bench.warc.wet.gz").string(), wat = (scratch / "bench.warc.wat.gz").string();
  {
    TextMaker text;
    WriteArchives(wet, wat, archiveMb, text);
  }
  for (const auto& [kind, file] : {std::pair{"wat", wat}, std::pair{"wet", wet}}) {
    const double mb = static_cast<double>(std::filesystem::file_size(file)) / 1048576.0;
    NullWriter none;
    begin = Clock::now();
    InputFile input(file);
    ImportReport read = FindImporter(kind)->read(none, input, ImportSettings(), nullptr);
    std::printf("  %s: %.0f MB, %lld records; reading alone %.1f MB/s\n", kind, mb, static_cast<long long>(read.lines),
                mb / Seconds(begin));
    Measured run = RunImport({"import", kind, file, "--db", crawl}, scratch);
    ok = run.exit == 0 && ok;
    ok = Check(std::string("import ") + kind + ": compressed input per second", mb / run.seconds,
               std::string(kind) == "wet" ? kTextGoalMbs : kMetadataGoalMbs, false, "MB/s") &&
         ok;
    ok = Check(std::string("import ") + kind + ": peak resident memory", run.peakMb, kMemoryGoalMb, true, "MB") && ok;
  }
  std::printf("  crawl store: %.0f MB\n", std::filesystem::file_size(crawl) / 1048576.0);

  std::filesystem::remove_all(scratch);
  return ok ? 0 : 1;
}
