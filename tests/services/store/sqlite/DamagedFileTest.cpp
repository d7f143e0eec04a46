// Damaged database files beside a running server: renamed over the served one, or damaged
// where it lies. The server keeps the last good data, says why in its log, and answers what
// it cannot read as a page without data.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "services/serve/Log.h"
#include "services/serve/Service.h"
#include "services/store/sqlite/SqliteStore.h"
#include "tests/services/support/Child.h"
#include "tests/services/support/Clients.h"
#include "tests/services/support/Fixtures.h"

namespace quillet::services {
namespace {

using std::chrono::milliseconds;
using testing::MsSince;
using testing::ScratchDir;

void Build(const std::string& path, const std::string& phrase, int pages) {
  SqliteWriter writer(path);
  writer.PutKeyword(phrase, 5);
  for (int i = 0; i < pages; ++i)
    writer.AddPage({"http://h" + std::to_string(i) + ".com/", "Page", phrase + " " + std::to_string(i), {}});
  writer.Commit();
}

std::string PhraseCount(Service& service, const std::string& phrase) {
  std::string page = service.Respond("/search", "p=%22" + phrase + "%22").body;
  size_t at = page.find("of about <b>");
  return at == std::string::npos ? "none" : page.substr(at + 12, page.find('<', at + 12) - at - 12);
}

// What the reader says, as the program's log would get it.
struct Notes {
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines += line + "\n";
  }
  bool WaitFor(const std::string& text, milliseconds wait) {
    auto start = testing::Clock::now();
    while (MsSince(start) < static_cast<double>(wait.count())) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (lines.find(text) != std::string::npos) return true;
      }
      std::this_thread::sleep_for(milliseconds(20));
    }
    return false;
  }
  std::mutex mutex;
  std::string lines;
};

void Overwrite(const std::string& path, std::int64_t at, const std::string& bytes) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(at);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(DamagedDatabaseFiles, ARenamedBadFileNeverReplacesTheGoodOne) {
  ScratchDir dir;
  const std::string db = dir.File("d.db");
  Build(db, "old phrase", 30);
  const std::string good = dir.File("good.db");
  Build(good, "old phrase", 30);
  Notes notes;
  SqliteReader reader(db, [&](const std::string& line) { notes.Add(line); });
  Service service(reader, milliseconds(2000));
  // A few connections to the good file, as a server under load holds them.
  {
    std::vector<std::thread> warm;
    for (int i = 0; i < 4; ++i) warm.emplace_back([&] { EXPECT_EQ(PhraseCount(service, "old+phrase"), "30"); });
    for (auto& thread : warm) thread.join();
  }
  auto size = static_cast<std::int64_t>(std::filesystem::file_size(good));
  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;  // applied to a copy of a good file
  };
  const std::vector<Case> cases = {
      {"garbage header", [](const std::string& p) { Overwrite(p, 0, std::string(100, '\x5A')); }},
      {"truncated",
       [&](const std::string& p) { std::filesystem::resize_file(p, static_cast<std::uintmax_t>(size / 3)); }},
      {"empty", [](const std::string& p) { std::filesystem::resize_file(p, 0); }},
      {"zeroed in part",
       [&](const std::string& p) { Overwrite(p, 4096, std::string(static_cast<size_t>(size / 2), '\0')); }},
      {"another schema version",
       [](const std::string& p) {
         Database raw(p, Database::Mode::ReadWrite);
         raw.Exec("PRAGMA user_version = 99");
       }},
  };
  int refused = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bad = dir.File("bad.db");
    std::filesystem::copy_file(good, bad, std::filesystem::copy_options::overwrite_existing);
    c.damage(bad);
    std::filesystem::rename(bad, db);
    ++refused;
    auto start = testing::Clock::now();
    bool said = false;
    while (!said && MsSince(start) < 5000) {
      // Every request meanwhile is answered from the last good file.
      EXPECT_EQ(PhraseCount(service, "old+phrase"), "30");
      std::lock_guard<std::mutex> lock(notes.mutex);
      size_t seen = 0;
      for (size_t at = notes.lines.find("is not used"); at != std::string::npos;
           at = notes.lines.find("is not used", at + 1))
        ++seen;
      said = static_cast<int>(seen) == refused;
    }
    EXPECT_TRUE(said) << notes.lines;
    std::vector<std::thread> crowd;
    for (int i = 0; i < 8; ++i)
      crowd.emplace_back([&] {
        std::string count = PhraseCount(service, "old+phrase");
        EXPECT_TRUE(count == "30" || count == "none") << count;  // none: no connection was free in time
      });
    for (auto& thread : crowd) thread.join();
    EXPECT_EQ(PhraseCount(service, "old+phrase"), "30");
  }
  // A good file is taken once it is in place.
  Build(dir.File("new.db"), "new phrase", 7);
  std::filesystem::rename(dir.File("new.db"), db);
  auto start = testing::Clock::now();
  while (PhraseCount(service, "new+phrase") != "7" && MsSince(start) < 5000)
    std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(PhraseCount(service, "new+phrase"), "7");
  EXPECT_TRUE(notes.WaitFor("serves from now on", milliseconds(1000))) << notes.lines;
}

TEST(DamagedDatabaseFiles, DamageFoundWhileServingIsLoggedWithTheQueryAnd503) {
  ScratchDir dir;
  const std::string db = dir.File("d.db");
  Build(db, "some phrase", 2000);
  SqliteReader reader(db);
  std::FILE* logFile = std::tmpfile();
  Log log(logFile);
  Service service(reader, milliseconds(2000), &log);
  EXPECT_EQ(PhraseCount(service, "some+phrase"), "2,000");
  // In place: every page but the first (the header and the schema the connection knows).
  auto size = static_cast<size_t>(std::filesystem::file_size(db));
  Overwrite(db, 4096, std::string(size - 4096, '\x7F'));
  Reply reply = service.Respond("/search", "p=%22some+phrase+9%22&n=10");
  EXPECT_EQ(reply.status, 503);
  std::rewind(logFile);
  std::string logged(8192, '\0');
  logged.resize(std::fread(logged.data(), 1, logged.size(), logFile));
  std::fclose(logFile);
  EXPECT_NE(logged.find("/search?p=%22some+phrase+9%22&n=10"), std::string::npos) << logged;
  EXPECT_NE(logged.find("damaged"), std::string::npos) << logged;
}

}  // namespace
}  // namespace quillet::services
