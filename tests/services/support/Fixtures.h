#pragma once
// Shared pieces of the service tests: a scratch directory, the program's window seen through
// fakes, and a fetcher that hands the program's URLs to a Service without a network.
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "net/FetchPage.h"
#include "research/RunWindow.h"
#include "research/Services.h"
#include "services/store/sqlite/Database.h"
#include "services/import/Importers.h"
#include "services/serve/Service.h"
#include "services/store/sqlite/SqliteStore.h"
#include "tests/services/support/Gzip.h"

namespace quillet::services::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillet-svc-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(File(name), std::ios::binary) << bytes;
    return File(name);
  }

 private:
  std::filesystem::path path_;
};

struct FakeRow {
  std::string caption;
  std::vector<std::string> subItems;
  bool checked = false;
};

class FakeList : public ResultList {
 public:
  void Clear() override { rows.clear(); }
  RowHandle AddRow() override {
    rows.emplace_back();
    return static_cast<RowHandle>(rows.size());
  }
  void SetCaption(RowHandle row, const std::string& text) override { rows.at(row - 1).caption = text; }
  void SetSubItem(RowHandle row, int index, const std::string& text) override {
    auto& items = rows.at(row - 1).subItems;
    if (items.size() < static_cast<size_t>(index)) items.resize(static_cast<size_t>(index));
    items[static_cast<size_t>(index) - 1] = text;
  }
  void SetChecked(RowHandle row, bool checked) override { rows.at(row - 1).checked = checked; }

  std::vector<FakeRow> rows;
};

class QuietWindow : public RunWindow {
 public:
  void SetStatus(const std::string&) override {}
  void ProcessMessages() override {}
  bool EscapeHeld() override { return false; }
};

constexpr const char* kServiceBase = "http://services.test";

// Answers "http://services.test/path?query" from the service, as the HTTP front would, with
// the target the program's fetch sends (its fragment, from a '#', dropped).
inline PageFetcher ServiceFetcher(Service& service, std::vector<std::string>* urls = nullptr) {
  return [&service, urls](const std::string& url) {
    if (urls) urls->push_back(url);
    std::string target = SplitUrl(url).target;
    size_t mark = target.find('?');
    std::string path = target.substr(0, mark);
    std::string query = mark == std::string::npos ? std::string() : target.substr(mark + 1);
    return service.Respond(path, query).body;
  };
}

// Every row of every table, to see whether anything changed.
inline std::string Fingerprint(const std::string& path) {
  Database db(path, Database::Mode::ReadOnly);
  std::string all;
  for (const char* sql : {"SELECT term || '=' || searches FROM keywords ORDER BY 1",
                          "SELECT word || '/' || term FROM keyword_words ORDER BY 1",
                          "SELECT id || url || host_id || title FROM pages ORDER BY id",
                          "SELECT rowid || title || body FROM page_text ORDER BY rowid",
                          "SELECT host_id || ',' || page_id FROM links ORDER BY 1",
                          "SELECT id || name FROM hosts ORDER BY id", "SELECT domain || rank FROM ranks ORDER BY 1"}) {
    Statement query = db.Prepare(sql);
    while (query.Step()) all += query.Text(0) + "\n";
    all += "--\n";
  }
  return all;
}

// One file read by the importer of a kind into a store (not committed).
inline ImportReport ReadAs(std::string_view kind, StoreWriter& store, const std::string& file,
                           const ImportProgress& progress = nullptr, const ImportSettings& settings = {}) {
  InputFile input(file);
  return FindImporter(kind)->read(store, input, settings, progress);
}

// One file imported into the database at db (created when missing), committed.
inline ImportReport ImportFile(std::string_view kind, const std::string& db, const std::string& file,
                               const ImportProgress& progress = nullptr, const ImportSettings& settings = {}) {
  SqliteWriter writer(db);
  ImportReport report = ReadAs(kind, writer, file, progress, settings);
  writer.Commit();
  return report;
}

// Hourly pageview files (paths under root) imported into the database at db as one run, its
// sums scaled from as many hours to a month, committed.
inline void ImportHours(const std::string& db, const std::string& root, const std::vector<std::string>& hours) {
  SqliteWriter writer(db);
  ImportSettings settings;
  settings.hours = static_cast<int>(hours.size());
  for (const std::string& hour : hours) ReadAs("pageviews", writer, root + "/" + hour, nullptr, settings);
  writer.StoreTally(720, settings.hours);
  writer.Commit();
}

inline ServiceHosts LocalHosts() { return {kServiceBase, kServiceBase, kServiceBase}; }

}  // namespace quillet::services::testing
