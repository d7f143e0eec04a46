// The word splitter of services/Tokens.h as SQLite's full-text tokenizer "quillet", so that
// the index, the phrases searched and every other store split text the same way.
#include <sqlite3.h>

#include "services/store/sqlite/Database.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

// The splitter keeps no state; an instance is only a distinct handle for SQLite to hold.
int Create(void*, const char**, int, Fts5Tokenizer** out) {
  *out = reinterpret_cast<Fts5Tokenizer*>(new char);
  return SQLITE_OK;
}

void Delete(Fts5Tokenizer* tokenizer) { delete reinterpret_cast<char*>(tokenizer); }

int Tokenize(Fts5Tokenizer*, void* context, int, const char* text, int size,
             int (*token)(void*, int, const char*, int, int, int)) {
  int rc = SQLITE_OK;
  ForEachWord(std::string_view(text, size > 0 ? static_cast<std::size_t>(size) : 0),
              [&](std::string_view word, std::size_t begin, std::size_t end) {
                if (rc == SQLITE_OK)
                  rc = token(context, 0, word.data(), static_cast<int>(word.size()), static_cast<int>(begin),
                             static_cast<int>(end));
              });
  return rc;
}

fts5_api* Fts5(sqlite3* db) {
  fts5_api* api = nullptr;
  sqlite3_stmt* statement = nullptr;
  // Preparing reads the file's first page: a file that is no database fails here.
  if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) != SQLITE_OK)
    throw DbError(sqlite3_errmsg(db), sqlite3_extended_errcode(db));
  sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
  sqlite3_step(statement);
  sqlite3_finalize(statement);
  return api;
}

}  // namespace

void RegisterWordSplitter(sqlite3* db) {
  static fts5_tokenizer tokenizer = {Create, Delete, Tokenize};
  fts5_api* api = Fts5(db);
  if (!api || api->xCreateTokenizer(api, "quillet", nullptr, &tokenizer, nullptr) != SQLITE_OK)
    throw DbError("this SQLite has no full-text search (FTS5)");
}

}  // namespace quillet::services
