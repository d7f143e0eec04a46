#pragma once
// Answers the requests of the three outside services from one database. Respond is what the
// HTTP server calls on its worker threads; it is safe to call from several threads at once:
// each call borrows a read-only connection of its own from a small pool.
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "services/Database.h"

namespace quillet::services {

struct Reply {
  int status = 200;
  std::string body;
};

class Service {
 public:
  // Opens (and checks) the database read-only; throws DbError when it cannot.
  explicit Service(std::string dbPath);

  // path without the query; rawQuery still encoded, without the '?'. Never throws.
  Reply Respond(std::string_view path, std::string_view rawQuery);

  // Limits of what is answered; larger requests get a refusal page.
  static constexpr size_t kMaxQueryLength = 2048;
  static constexpr size_t kMaxTopicWords = 16;
  static constexpr int kMaxSuggestions = 100;
  static constexpr int kMaxResults = 100;
  static constexpr std::int64_t kMaxFirstResult = 1000;

 private:
  Reply Suggest(Database& db, std::string_view rawQuery);
  Reply Search(Database& db, std::string_view rawQuery);
  Reply Traffic(Database& db, std::string_view rawQuery);

  std::unique_ptr<Database> Borrow();
  void Return(std::unique_ptr<Database> db);

  std::string path_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Database>> idle_;
};

}  // namespace quillet::services
