#include "services/Store.h"

#include "services/Query.h"

namespace quillet::services {
namespace {

constexpr size_t kMaxTermLength = 200;
constexpr size_t kSnippetLength = 160;
// Like a real engine, a result list shows at most two pages of one site.
constexpr int kResultsPerHost = 2;
// How far down the matches a result list looks for pages of sites not yet shown.
constexpr int kMaxCandidates = 10000;

bool IsTokenChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c >= 0x80;
}

}  // namespace

void CreateSchema(Database& db) {
  db.Exec(R"sql(
    CREATE TABLE IF NOT EXISTS keywords(term TEXT PRIMARY KEY, searches INTEGER NOT NULL) WITHOUT ROWID;
    CREATE TABLE IF NOT EXISTS keyword_words(word TEXT NOT NULL, term TEXT NOT NULL,
                                             PRIMARY KEY(word, term)) WITHOUT ROWID;
    CREATE TABLE IF NOT EXISTS hosts(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
    CREATE TABLE IF NOT EXISTS pages(id INTEGER PRIMARY KEY, url TEXT NOT NULL UNIQUE,
                                     host_id INTEGER NOT NULL, title TEXT NOT NULL);
    CREATE VIRTUAL TABLE IF NOT EXISTS page_text USING fts5(title, body);
    CREATE TABLE IF NOT EXISTS links(host_id INTEGER NOT NULL, page_id INTEGER NOT NULL,
                                     PRIMARY KEY(host_id, page_id)) WITHOUT ROWID;
    CREATE TABLE IF NOT EXISTS ranks(domain TEXT PRIMARY KEY, rank INTEGER NOT NULL) WITHOUT ROWID;
  )sql");
}

Writer::Writer(Database& db)
    : db_(db),
      putKeyword_(db.Prepare("INSERT OR REPLACE INTO keywords(term, searches) VALUES(?1, ?2)")),
      findKeyword_(db.Prepare("SELECT 1 FROM keywords WHERE term = ?1")),
      putWord_(db.Prepare("INSERT OR IGNORE INTO keyword_words(word, term) VALUES(?1, ?2)")),
      findHost_(db.Prepare("SELECT id FROM hosts WHERE name = ?1")),
      putHost_(db.Prepare("INSERT INTO hosts(name) VALUES(?1)")),
      putPage_(db.Prepare("INSERT OR IGNORE INTO pages(url, host_id, title) VALUES(?1, ?2, ?3)")),
      putText_(db.Prepare("INSERT INTO page_text(rowid, title, body) VALUES(?1, ?2, ?3)")),
      putLink_(db.Prepare("INSERT OR IGNORE INTO links(host_id, page_id) VALUES(?1, ?2)")),
      findRank_(db.Prepare("SELECT 1 FROM ranks WHERE domain = ?1")),
      putRank_(db.Prepare("INSERT OR REPLACE INTO ranks(domain, rank) VALUES(?1, ?2)")) {}

bool Writer::PutKeyword(const std::string& term, std::int64_t searches) {
  findKeyword_.Bind(1, term);
  bool existed = findKeyword_.Step();
  findKeyword_.Reset();
  putKeyword_.Bind(1, term).Bind(2, searches).Run();
  if (!existed) {
    for (const std::string& word : SplitWords(term)) putWord_.Bind(1, word).Bind(2, term).Run();
  }
  return !existed;
}

std::int64_t Writer::HostId(const std::string& host) {
  auto it = hostIds_.find(host);
  if (it != hostIds_.end()) return it->second;
  std::int64_t id;
  findHost_.Bind(1, host);
  if (findHost_.Step()) {
    id = findHost_.Int(0);
    findHost_.Reset();
  } else {
    findHost_.Reset();
    putHost_.Bind(1, host).Run();
    id = db_.LastInsertId();
  }
  hostIds_.emplace(host, id);
  return id;
}

bool Writer::AddPage(std::string_view url, std::string_view title, std::string_view text,
                     const std::vector<std::string>& links) {
  std::string host = NormalizeHost(url);
  std::int64_t hostId = HostId(host);
  putPage_.Bind(1, url).Bind(2, hostId).Bind(3, title).Run();
  if (db_.Changes() == 0) return false;
  std::int64_t pageId = db_.LastInsertId();
  putText_.Bind(1, pageId).Bind(2, title).Bind(3, text).Run();
  for (const std::string& link : links) {
    std::string target = NormalizeHost(link);
    if (target.empty() || target == host) continue;
    putLink_.Bind(1, HostId(target)).Bind(2, pageId).Run();
  }
  return true;
}

bool Writer::PutRank(std::string_view domain, std::int64_t rank) {
  std::string host = NormalizeHost(domain);
  findRank_.Bind(1, host);
  bool existed = findRank_.Step();
  findRank_.Reset();
  putRank_.Bind(1, host).Bind(2, rank).Run();
  return !existed;
}

std::optional<std::string> NormalizeTerm(std::string_view text, std::string* why) {
  std::string term;
  bool pendingSpace = false;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == ' ' || c == '\t') {
      pendingSpace = !term.empty();
      continue;
    }
    if (u < 0x20 || u == 0x7f) {
      if (why) *why = "control character in term";
      return std::nullopt;
    }
    if (c == '<' || c == '>' || c == ';') {
      if (why) *why = std::string("term holds '") + c + "', which the suggestion page cannot carry";
      return std::nullopt;
    }
    if (pendingSpace) term += ' ';
    pendingSpace = false;
    term += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (term.empty()) {
    if (why) *why = "empty term";
    return std::nullopt;
  }
  if (term.size() > kMaxTermLength) {
    if (why) *why = "term longer than " + std::to_string(kMaxTermLength) + " bytes";
    return std::nullopt;
  }
  return term;
}

std::string MatchExpression(std::string_view text, bool quoted) {
  auto quote = [](std::string_view part) {
    std::string out = "\"";
    for (char c : part) {
      // The query parser stops at a NUL; other control bytes are no part of any word either.
      out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
      if (c == '"') out += '"';
    }
    return out + "\"";
  };
  bool anyToken = false;
  for (char c : text) anyToken = anyToken || IsTokenChar(static_cast<unsigned char>(c));
  if (!anyToken) return {};
  if (quoted) return quote(text);
  std::string expression;
  for (const std::string& word : SplitWords(text)) {
    bool wordHasToken = false;
    for (char c : word) wordHasToken = wordHasToken || IsTokenChar(static_cast<unsigned char>(c));
    if (!wordHasToken) continue;
    if (!expression.empty()) expression += ' ';
    expression += quote(word);
  }
  return expression;
}

std::vector<Suggestion> FindSuggestions(Database& db, const std::vector<std::string>& words, int limit) {
  std::vector<Suggestion> rows;
  if (words.empty()) return rows;
  std::string sql = "SELECT k.term, k.searches FROM keywords k WHERE k.term IN (";
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) sql += " INTERSECT ";
    sql += "SELECT term FROM keyword_words WHERE word = ?" + std::to_string(i + 1);
  }
  sql += ") ORDER BY k.searches DESC, k.term LIMIT ?" + std::to_string(words.size() + 1);
  Statement query = db.Prepare(sql);
  for (size_t i = 0; i < words.size(); ++i) query.Bind(static_cast<int>(i + 1), words[i]);
  query.Bind(static_cast<int>(words.size() + 1), limit);
  while (query.Step()) rows.push_back({query.Text(0), query.Int(1)});
  return rows;
}

std::int64_t CountMatches(Database& db, const std::string& expression) {
  if (expression.empty()) return 0;
  Statement query = db.Prepare("SELECT count(*) FROM page_text WHERE page_text MATCH ?1");
  query.Bind(1, expression);
  return query.Step() ? query.Int(0) : 0;
}

std::vector<ResultItem> FindPages(Database& db, const std::string& expression, std::int64_t offset, int limit) {
  std::vector<ResultItem> items;
  if (expression.empty() || limit <= 0) return items;
  // Walks the matches in stored order and stops as soon as it has enough, so a common word
  // costs no more than a rare one.
  Statement matches = db.Prepare(
      "SELECT t.rowid, p.host_id FROM page_text t JOIN pages p ON p.id = t.rowid "
      "WHERE page_text MATCH ?1 ORDER BY t.rowid");
  matches.Bind(1, expression);
  std::unordered_map<std::int64_t, int> perHost;
  std::vector<std::int64_t> chosen;
  std::int64_t skipped = 0;
  for (int scanned = 0; static_cast<int>(chosen.size()) < limit && scanned < kMaxCandidates && matches.Step();
       ++scanned) {
    if (++perHost[matches.Int(1)] > kResultsPerHost) continue;
    if (skipped < offset) {
      ++skipped;
      continue;
    }
    chosen.push_back(matches.Int(0));
  }
  Statement page = db.Prepare(
      "SELECT p.url, p.title, substr(t.body, 1, ?2) FROM pages p JOIN page_text t ON t.rowid = p.id WHERE p.id = ?1");
  for (std::int64_t id : chosen) {
    page.Bind(1, id).Bind(2, static_cast<std::int64_t>(kSnippetLength));
    if (page.Step()) items.push_back({page.Text(0), page.Text(1), page.Text(2)});
    page.Reset();
  }
  return items;
}

std::int64_t CountLinks(Database& db, std::string_view host) {
  Statement query = db.Prepare(
      "SELECT count(*) FROM links WHERE host_id = (SELECT id FROM hosts WHERE name = ?1)");
  query.Bind(1, NormalizeHost(host));
  return query.Step() ? query.Int(0) : 0;
}

std::optional<std::int64_t> FindRank(Database& db, std::string_view host) {
  std::string domain = NormalizeHost(host);
  Statement query = db.Prepare("SELECT rank FROM ranks WHERE domain = ?1");
  // blog.example.com falls back to example.com, but never to a bare top-level name.
  while (!domain.empty()) {
    query.Bind(1, domain);
    if (query.Step()) return query.Int(0);
    query.Reset();
    size_t dot = domain.find('.');
    if (dot == std::string::npos || domain.find('.', dot + 1) == std::string::npos) break;
    domain.erase(0, dot + 1);
  }
  return std::nullopt;
}

}  // namespace quillet::services
