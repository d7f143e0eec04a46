// The Windows build of quillet-services, run as a user runs it from a command prompt: files
// and a database in a folder whose name has a blank and a non-ASCII letter, imports, the
// three kinds of page over HTTP, demo refused while the server has the file, then stop.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/release/Process.h"

namespace quillet::test {
namespace {

const std::wstring kProgram = WideText(QUILLET_SERVICES_EXE);
// The traffic page shows a rank one digit per element.
constexpr const char* kRank1234 = "<span>1</span><span>2</span><span>3</span><span>4</span>";

class ServiceSmoke : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"Quillet sm\u00f6ke " + std::to_wstring(GetCurrentProcessId()) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    database_ = folder_ + L"r\u00e9search data.db";
  }
  void TearDown() override {
    for (const wchar_t* name : {L"keywords \u00fc.tsv", L"pages.jsonl", L"ranks.csv", L"r\u00e9search data.db",
                                L"r\u00e9search data.db-wal", L"r\u00e9search data.db-shm"})
      DeleteFileW((folder_ + name).c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  std::wstring Write(const std::wstring& name, const std::string& text) {
    std::ofstream(std::filesystem::path(folder_ + name), std::ios::binary) << text;
    return folder_ + name;
  }
  Finished Service(const std::wstring& arguments) { return RunToEnd(Quoted(kProgram) + L" " + arguments); }

  std::wstring folder_, database_;
};

TEST_F(ServiceSmoke, ImportsServesAndStopsWithUnicodePaths) {
  const std::wstring db = L" --db " + Quoted(database_);
  // A keyword tool's export: UTF-16 with a byte order mark, a header, grouped counts.
  std::wstring keywords =
      L"\ufeffKeyword\tAvg. monthly searches\r\nw\u00fcrzburg wine tours\t1,300\r\nwine tours\t12,100\r\n";
  std::string keywordBytes(reinterpret_cast<const char*>(keywords.data()), keywords.size() * sizeof(wchar_t));
  Finished imported = Service(L"import keywords " + Quoted(Write(L"keywords \u00fc.tsv", keywordBytes)) + db);
  EXPECT_EQ(imported.exitCode, 0u) << imported.output;
  EXPECT_NE(imported.output.find("2 imported"), std::string::npos) << imported.output;

  Finished pages = Service(
      L"import pages " +
      Quoted(Write(L"pages.jsonl",
                   "{\"url\": \"http://www.vineyard.example/tours\", \"title\": \"Wine tours\", \"text\": \"Book wine "
                   "tours here.\","
                   " \"links\": [\"http://cellar.example/\"]}\n"
                   "{\"url\": \"http://blog.cellar.example/\", \"title\": \"Cellar\", \"text\": \"Our wine tours.\","
                   " \"links\": [\"http://www.vineyard.example/\"]}\n")) +
      db);
  EXPECT_EQ(pages.exitCode, 0u) << pages.output;
  Finished ranks = Service(L"import ranks " + Quoted(Write(L"ranks.csv", "rank,domain\n1234,cellar.example\n")) + db);
  EXPECT_EQ(ranks.exitCode, 0u) << ranks.output;

  const int port = FreePort();
  ASSERT_GT(port, 0);
  Process server(Quoted(kProgram) + L" serve --listen 127.0.0.1:" + std::to_wstring(port) + db);
  ASSERT_TRUE(server.Started());
  std::string suggestions =
      FetchWhenUp(port, "/d/searchinventory/suggestion/?term=wine%20tours&mkt=us&lang=en_US", 30000);
  EXPECT_NE(suggestions.find("12100"), std::string::npos) << suggestions;
  EXPECT_NE(suggestions.find("w\xc3\xbcrzburg wine tours"), std::string::npos) << suggestions;
  std::string search = FetchWhenUp(port, "/search?p=%22wine%20tours%22&n=10", 5000);
  EXPECT_NE(search.find("<b>2</b>"), std::string::npos) << search;
  EXPECT_NE(search.find("http://www.vineyard.example/tours"), std::string::npos) << search;
  std::string links = FetchWhenUp(port, "/search?p=link%3Ahttp%3A%2F%2Fwww.vineyard.example", 5000);
  EXPECT_NE(links.find("<b>1</b>"), std::string::npos) << links;
  // A subdomain without a rank of its own gets its domain's.
  std::string rank = FetchWhenUp(port, "/data/details/?url=blog.cellar.example", 5000);
  EXPECT_NE(rank.find(kRank1234), std::string::npos) << rank;

  // Windows cannot replace a file that is open: demo must say so and leave everything as it was.
  Finished demo = Service(L"demo --pages 100 --hosts 10" + db);
  EXPECT_EQ(demo.exitCode, 1u) << demo.output;
  EXPECT_NE(demo.output.find("stop the service first"), std::string::npos) << demo.output;
  EXPECT_EQ(GetFileAttributesW((database_ + L".building").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(FetchWhenUp(port, "/data/details/?url=cellar.example", 5000).find(kRank1234), std::string::npos);

  Finished stopped = Service(L"stop");
  EXPECT_EQ(stopped.exitCode, 0u) << stopped.output;
  EXPECT_NE(stopped.output.find("1 data service stopped"), std::string::npos) << stopped.output;
  Finished serverEnd = server.Wait(15000);
  EXPECT_EQ(serverEnd.exitCode, 0u) << serverEnd.output;

  // With the server gone the file can be replaced, but it holds imports: only when told, and
  // then it is kept beside the new one.
  Finished refused = Service(L"demo --pages 100 --hosts 10" + db);
  EXPECT_EQ(refused.exitCode, 1u) << refused.output;
  EXPECT_NE(refused.output.find("demo --replace"), std::string::npos) << refused.output;
  Finished rebuilt = Service(L"demo --pages 100 --hosts 10 --replace" + db);
  EXPECT_EQ(rebuilt.exitCode, 0u) << rebuilt.output;
  EXPECT_NE(GetFileAttributesW((database_ + L".before-demo").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace quillet::test
