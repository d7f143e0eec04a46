#include "services/ClickHouseStore.h"

#include <algorithm>
#include <charconv>
#include <random>
#include <set>

#include "services/Query.h"
#include "services/Tokens.h"

namespace quillet::services {
namespace {

// An import's rows in the table imports: running (again with each heartbeat), then complete
// or abandoned; the state only ever grows, so the largest is the last.
enum ImportState { kRunning = 1, kComplete = 2, kAbandoned = 3 };
constexpr const char* kOnlyRunning = "max(state) = 1";

// The tables every node (every shard) holds. Rows of one page share a shard; a keyword's
// rows share a shard, so each shard answers its share of a query without the others.
struct Table {
  const char* name;
  const char* columns;
  const char* order;
  const char* shardKey;
};
constexpr Table kTables[] = {
    {"pages",
     "page UInt64, ord UInt64, sign Int8, import_id UInt32, url_hash UInt64, host String, url String, title String, "
     "snippet String, title_words String, body_words String, link_hosts String",
     "page", "intHash64(page)"},
    {"grams", "gram String, page UInt64, sign Int8, import_id UInt32", "gram, page", "intHash64(page)"},
    {"links", "host String, page UInt64, sign Int8, import_id UInt32", "host, page", "intHash64(page)"},
    {"keywords", "term String, key UInt64, searches Int64, version UInt64, import_id UInt32", "term",
     "cityHash64(term)"},
    {"keyword_words", "word String, term String, import_id UInt32", "word, term", "cityHash64(term)"},
    {"ranks", "domain String, key UInt64, rank Int64, version UInt64, import_id UInt32", "domain",
     "cityHash64(domain)"},
    // Demand summed over the files of one run before it becomes keywords.
    {"tally", "term String, count Int64, round UInt32, import_id UInt32", "term", "cityHash64(term)"},
};
// Answers of the loads of stored keys, a few million numbers at a time.
constexpr std::size_t kMaxKeyAnswer = 64 * 1024 * 1024;

bool PlainName(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
}

// A number of an answer; ClickHouse prints counts and ids unsigned, searches and ranks signed.
template <typename Integer>
Integer Parsed(std::string_view text) {
  Integer value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    throw ClickHouseError("ClickHouse answered " + std::string(text.substr(0, 40)) + " where a number was due");
  return value;
}
std::uint64_t Number(std::string_view text) { return Parsed<std::uint64_t>(text); }
std::int64_t SignedNumber(std::string_view text) { return Parsed<std::int64_t>(text); }

std::vector<std::vector<std::string>> Rows(const std::string& body, size_t columns) {
  auto rows = ParseTsv(body);
  for (const auto& row : rows)
    if (row.size() != columns) throw ClickHouseError("ClickHouse answered rows of another shape");
  return rows;
}

// The settings of a read that must end by the deadline, on the server and its shards too.
std::string ReadSettings(Deadline deadline) {
  std::string settings = "wait_end_of_query=1&skip_unavailable_shards=0";
  if (deadline.At() == Deadline::None().At()) return settings;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.At() - Deadline::Clock::now()).count();
  // Whole seconds: the server reads a fraction as none at all.
  std::string seconds = std::to_string(std::max<long long>(1, (left + 999) / 1000));
  return settings + "&max_execution_time=" + seconds + "&receive_timeout=" + seconds + "&connect_timeout=" + seconds;
}

std::string Snippet(std::string_view text) {
  size_t chars = 0, i = 0;
  for (; i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == kSnippetLength) break;
  return std::string(text.substr(0, i));
}

std::string Join(const std::vector<std::string>& words, size_t from, size_t count) {
  std::string out;
  for (size_t i = from; i < from + count; ++i) {
    if (i > from) out += ' ';
    out += words[i];
  }
  return out;
}

// Calls gram() once for each distinct 1-, 2- and 3-gram of words in either text (texts as
// NormalizedText gives them, so an n-gram is a substring). Memory: a few words' worth of
// offsets per word of the texts.
template <typename Gram>
void ForEachGram(std::string_view title, std::string_view body, Gram gram) {
  std::vector<std::pair<std::string_view, std::vector<std::pair<std::uint32_t, std::uint32_t>>>> fields;
  for (std::string_view text : {title, body}) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> words;
    for (size_t start = 0; start < text.size();) {
      size_t end = std::min(text.find(' ', start), text.size());
      words.emplace_back(static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end));
      start = end + 1;
    }
    fields.emplace_back(text, std::move(words));
  }
  std::vector<std::string_view> grams;
  for (size_t n = 1; n <= 3; ++n) {
    grams.clear();
    for (const auto& [text, words] : fields)
      for (size_t i = 0; i + n <= words.size(); ++i)
        grams.push_back(text.substr(words[i].first, words[i + n - 1].second - words[i].first));
    std::sort(grams.begin(), grams.end());
    grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
    for (std::string_view g : grams) gram(g);
  }
}

// A search as this store answers it: grams that every matching page holds, and phrases of
// more than three words to look for in the normalised text of the pages that hold theirs.
struct GramQuery {
  std::vector<std::string> grams;
  std::vector<std::string> phrases;  // " w1 w2 w3 w4 ", as title_words and body_words are kept
};

// Empty grams when nothing can match. The same reading as the SQLite store's: one phrase of
// all the words, or each blank-separated piece a phrase of its own words, all required.
GramQuery ReadQuery(const TextQuery& query) {
  std::vector<std::vector<std::string>> phrases;
  if (query.phrase) phrases.push_back(Words(query.text));
  else
    for (const std::string& piece : SplitWords(query.text)) phrases.push_back(Words(piece));
  std::set<std::string> grams;
  GramQuery out;
  for (const auto& words : phrases) {
    if (words.size() <= 3) {
      if (!words.empty()) grams.insert(Join(words, 0, words.size()));
      continue;
    }
    for (size_t i = 0; i + 3 <= words.size(); ++i) grams.insert(Join(words, i, 3));
    out.phrases.push_back(" " + Join(words, 0, words.size()) + " ");
  }
  out.grams.assign(grams.begin(), grams.end());
  return out;
}

}  // namespace

std::vector<std::string> SplitNodeList(const std::string& list) {
  std::vector<std::string> nodes;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = std::min(list.find(',', start), list.size());
    if (end > start) nodes.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return nodes;
}

std::uint64_t KeyHash(std::string_view text) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ull;
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  return h ^ (h >> 33);
}

// The nodes, the names of the tables and the statements both sides share.
class ClickHouseDatabase {
 public:
  explicit ClickHouseDatabase(const ClickHouseOptions& options) : options_(options) {
    if (options_.nodes.empty()) throw ClickHouseError("no ClickHouse server named");
    if (!PlainName(options_.database))
      throw ClickHouseError("database name " + options_.database + ": letters, digits and _ only");
    if (!options_.cluster.empty() && !PlainName(options_.cluster))
      throw ClickHouseError("cluster name " + options_.cluster + ": letters, digits and _ only");
    for (const std::string& url : options_.nodes) nodes_.emplace_back(url);
  }

  bool Cluster() const { return !options_.cluster.empty(); }
  // A table on the node queried; what queries and inserts use, over every shard.
  std::string Local(std::string_view table) const { return options_.database + "." + std::string(table); }
  std::string Shared(std::string_view table) const { return Local(table) + (Cluster() ? "_all" : ""); }
  // Rows of complete imports only. On a cluster the list is read once, here, and sent along.
  std::string Visible() const {
    return std::string("import_id ") + (Cluster() ? "GLOBAL " : "") + "IN (SELECT id FROM " + Local("imports") +
           " WHERE state = " + std::to_string(kComplete) + ")";
  }

  std::string Read(const std::string& sql, Deadline deadline,
                   std::size_t maxAnswer = limits::kMaxClickHouseAnswer) const {
    return nodes_.front().Run(sql, deadline, maxAnswer, ReadSettings(deadline));
  }
  void Write(const std::string& sql, std::string_view data = {}) const { Write(nodes_.front(), sql, data); }
  void Write(const ClickHouseNode& node, const std::string& sql, std::string_view data = {}) const {
    node.Run(sql, Deadline::In(limits::kClickHouseWriteTimeout), limits::kMaxClickHouseAnswer,
             Cluster() ? "insert_distributed_sync=1" : "", data);
  }
  void Mark(std::uint32_t id, std::uint64_t owner, ImportState state) const {
    Write("INSERT INTO " + Local("imports") + " VALUES (" + std::to_string(id) + ", " + std::to_string(owner) + ", " +
          std::to_string(state) + ", " + std::to_string(NowMs()) + ")");
  }

  // Creates what is missing on every node, checks the version of what is there, and on a
  // cluster that every shard holds it; then deletes the rows of imports found dead.
  void Prepare() const {
    for (const ClickHouseNode& node : nodes_) PrepareNode(node);
    if (Cluster()) CheckShards();
    CleanUp();
  }

  // Imports still running (by their heartbeat), other than owner's.
  std::vector<std::vector<std::string>> Running(std::uint64_t exceptOwner) const {
    return Rows(Read("SELECT id, owner FROM " + Local("imports") + " GROUP BY id, owner HAVING " + kOnlyRunning +
                         " AND owner != " + std::to_string(exceptOwner),
                     Deadline::In(limits::kClickHouseWriteTimeout)),
                2);
  }

  // Deletes the rows of the imports (from one table, or all) from every node listed; a node
  // that cannot be reached keeps them, unseen.
  void Delete(const std::string& ids, std::string_view only = {}) const {
    for (const ClickHouseNode& node : nodes_) {
      try {
        for (const Table& table : kTables)
          if (only.empty() || only == table.name)
            Write(node, "ALTER TABLE " + Local(table.name) + " DELETE WHERE import_id IN (" + ids + ")");
      } catch (const ClickHouseError&) {
      }
    }
  }

 private:
  void PrepareNode(const ClickHouseNode& node) const {
    Write(node, "CREATE DATABASE IF NOT EXISTS " + options_.database);
    Write(node, "CREATE TABLE IF NOT EXISTS " + Local("schema") + " (version UInt32) ENGINE = TinyLog");
    auto versions = Rows(node.Run("SELECT version FROM " + Local("schema"),
                                  Deadline::In(limits::kClickHouseWriteTimeout), limits::kMaxClickHouseAnswer),
                         1);
    if (versions.empty()) {
      Write(node, "INSERT INTO " + Local("schema") + " VALUES (" + std::to_string(kClickHouseSchemaVersion) + ")");
    } else if (SignedNumber(versions[0][0]) != kClickHouseSchemaVersion) {
      throw ClickHouseError(node.Url() + ": database " + options_.database + " holds tables of schema " +
                            versions[0][0] + ", this version reads " + std::to_string(kClickHouseSchemaVersion) +
                            "; import into a new database (--clickhouse-db)");
    }
    Write(node, "CREATE TABLE IF NOT EXISTS " + Local("imports") +
                    " (id UInt32, owner UInt64, state UInt8, at UInt64) ENGINE = MergeTree ORDER BY (id, at)");
    for (const Table& table : kTables) {
      Write(node, "CREATE TABLE IF NOT EXISTS " + Local(table.name) + " (" + table.columns +
                      ") ENGINE = MergeTree ORDER BY (" + table.order + ")");
      if (Cluster())
        Write(node, "CREATE TABLE IF NOT EXISTS " + Shared(table.name) + " AS " + Local(table.name) +
                        " ENGINE = Distributed(" + options_.cluster + ", " + options_.database + ", " + table.name +
                        ", " + table.shardKey + ")");
    }
    if (Cluster())
      Write(node, "CREATE TABLE IF NOT EXISTS " + Shared("schema") + " AS " + Local("schema") +
                      " ENGINE = Distributed(" + options_.cluster + ", " + options_.database + ", schema)");
  }

  void CheckShards() const {
    Deadline deadline = Deadline::In(limits::kClickHouseWriteTimeout);
    auto shards =
        Rows(Read("SELECT uniqExact(shard_num) FROM system.clusters WHERE cluster = " + SqlString(options_.cluster),
                  deadline),
             1);
    std::uint64_t expected = Number(shards.at(0).at(0));
    if (expected == 0) throw ClickHouseError(nodes_.front().Url() + " knows no cluster " + options_.cluster);
    std::string found;
    try {
      found = Read("SELECT count(), min(version), max(version) FROM " + Shared("schema"), deadline);
    } catch (const ClickHouseError& error) {
      throw ClickHouseError(std::string(error.what()) + "\n(every shard of " + options_.cluster +
                            " needs the schema: name each shard's server once in --clickhouse)");
    }
    auto row = Rows(found, 3).at(0);
    if (Number(row[0]) != expected || SignedNumber(row[1]) != kClickHouseSchemaVersion ||
        SignedNumber(row[2]) != kClickHouseSchemaVersion)
      throw ClickHouseError("the shards of " + options_.cluster + " hold " + row[0] + " schema rows of versions " +
                            row[1] + " to " + row[2] + " for " + std::to_string(expected) + " shards");
  }

  void CleanUp() const {
    auto dead = Rows(
        Read("SELECT id, owner FROM " + Local("imports") + " GROUP BY id, owner HAVING " + kOnlyRunning +
                 " AND max(at) < " + std::to_string(NowMs() - static_cast<std::uint64_t>(options_.staleImport.count())),
             Deadline::In(limits::kClickHouseWriteTimeout)),
        2);
    if (dead.empty()) return;
    std::string ids;
    for (const auto& row : dead) {
      Mark(static_cast<std::uint32_t>(Number(row[0])), Number(row[1]), kAbandoned);
      ids += (ids.empty() ? "" : ", ") + row[0];
    }
    Delete(ids);
  }

  ClickHouseOptions options_;
  std::vector<ClickHouseNode> nodes_;
};

// Reading.

ClickHouseReader::ClickHouseReader(const ClickHouseOptions& options)
    : db_(std::make_unique<ClickHouseDatabase>(options)) {
  db_->Prepare();
}

ClickHouseReader::~ClickHouseReader() = default;

std::string ClickHouseReader::Ask(const std::string& sql, Deadline deadline) const {
  try {
    return db_->Read(sql, deadline);
  } catch (const ClickHouseError& error) {
    throw NoAnswer(error.what());
  }
}

std::vector<Suggestion> ClickHouseReader::FindSuggestions(const std::vector<std::string>& words, int limit,
                                                          Deadline deadline) {
  std::vector<Suggestion> out;
  if (words.empty() || limit <= 0) return out;
  std::string sql =
      "SELECT term, argMax(searches, version) AS s FROM " + db_->Shared("keywords") + " WHERE " + db_->Visible();
  for (const std::string& word : words)
    sql += " AND term IN (SELECT term FROM " + db_->Local("keyword_words") + " WHERE word = " + SqlString(word) + ")";
  sql += " GROUP BY term ORDER BY s DESC, term LIMIT " + std::to_string(limit);
  for (auto& row : Rows(Ask(sql, deadline), 2)) out.push_back({std::move(row[0]), SignedNumber(row[1])});
  return out;
}

namespace {

// " AND page IN (...)" for each gram from the first given on, and the phrase checks.
std::string PageConditions(const ClickHouseDatabase& db, const GramQuery& query, size_t firstGram) {
  std::string sql;
  for (size_t i = firstGram; i < query.grams.size(); ++i)
    sql += " AND page IN (SELECT page FROM " + db.Local("grams") + " WHERE gram = " + SqlString(query.grams[i]) + ")";
  for (const std::string& phrase : query.phrases)
    sql += " AND (position(title_words, " + SqlString(phrase) + ") > 0 OR position(body_words, " + SqlString(phrase) +
           ") > 0)";
  return sql;
}

}  // namespace

std::int64_t ClickHouseReader::CountMatches(const TextQuery& text, Deadline deadline) {
  GramQuery query = ReadQuery(text);
  if (query.grams.empty()) return 0;
  std::string sql;
  // Short phrases are counted in the posting table alone: one range of the index. A page
  // retracted by a later import counts +1 - 1: the same conditions hold for both its rows.
  if (query.phrases.empty())
    sql = "SELECT sum(sign) FROM " + db_->Shared("grams") + " WHERE gram = " + SqlString(query.grams[0]) + " AND " +
          db_->Visible() + PageConditions(*db_, query, 1);
  else
    sql = "SELECT sum(sign) FROM " + db_->Shared("pages") + " WHERE " + db_->Visible() + PageConditions(*db_, query, 0);
  return SignedNumber(Rows(Ask(sql, deadline), 1).at(0).at(0));
}

std::vector<ResultItem> ClickHouseReader::FindPages(const TextQuery& text, std::int64_t offset, int limit,
                                                    Deadline deadline) {
  std::vector<ResultItem> items;
  GramQuery query = ReadQuery(text);
  if (query.grams.empty() || limit <= 0) return items;
  // Pages in the order of their first import (ord), retracted ones left out.
  auto chosen = Rows(Ask("SELECT p FROM (SELECT page AS p, any(host) AS h, any(ord) AS o FROM " + db_->Shared("pages") +
                             " WHERE " + db_->Visible() + PageConditions(*db_, query, 0) +
                             " GROUP BY page HAVING sum(sign) > 0 ORDER BY o LIMIT " + std::to_string(kMaxCandidates) +
                             ") ORDER BY o LIMIT " + std::to_string(kResultsPerHost) + " BY h LIMIT " +
                             std::to_string(offset) + ", " + std::to_string(limit),
                         deadline),
                     1);
  if (chosen.empty()) return items;
  std::string ids;
  for (const auto& row : chosen) ids += (ids.empty() ? "" : ", ") + row[0];
  auto pages = Rows(Ask("SELECT page, url, title, snippet FROM " + db_->Shared("pages") + " WHERE page IN (" + ids +
                            ") AND sign = 1 AND " + db_->Visible() + " ORDER BY ord",
                        deadline),
                    4);
  for (auto& row : pages) items.push_back({std::move(row[1]), std::move(row[2]), std::move(row[3])});
  return items;
}

std::int64_t ClickHouseReader::CountLinks(std::string_view host, Deadline deadline) {
  std::string sql = "SELECT sum(sign) FROM " + db_->Shared("links") +
                    " WHERE host = " + SqlString(NormalizeHost(host)) + " AND " + db_->Visible();
  return SignedNumber(Rows(Ask(sql, deadline), 1).at(0).at(0));
}

std::optional<std::int64_t> ClickHouseReader::FindRank(std::string_view host, Deadline deadline) {
  // blog.example.com falls back to example.com, but never to a bare top-level name.
  std::vector<std::string> domains = {NormalizeHost(host)};
  while (true) {
    const std::string& last = domains.back();
    size_t dot = last.find('.');
    if (last.empty() || dot == std::string::npos || last.find('.', dot + 1) == std::string::npos) break;
    domains.push_back(last.substr(dot + 1));
  }
  std::string list;
  for (const std::string& domain : domains) list += (list.empty() ? "" : ", ") + SqlString(domain);
  auto rows = Rows(Ask("SELECT domain, argMax(rank, version) FROM " + db_->Shared("ranks") + " WHERE domain IN (" +
                           list + ") AND " + db_->Visible() + " GROUP BY domain",
                       deadline),
                   2);
  for (const std::string& domain : domains)
    for (const auto& row : rows)
      if (row[0] == domain) return SignedNumber(row[1]);
  return std::nullopt;
}

// Writing.

void KeySet::Load(std::vector<Entry> entries) {
  sorted_ = std::move(entries);
  std::sort(sorted_.begin(), sorted_.end());
  loaded_ = true;
}

namespace {
template <typename Entries>
auto LowerKey(Entries& sorted, std::uint64_t key) {
  return std::lower_bound(sorted.begin(), sorted.end(), key,
                          [](const KeySet::Entry& entry, std::uint64_t k) { return entry.first < k; });
}
}  // namespace

std::optional<std::uint64_t> KeySet::Find(std::uint64_t key) const {
  auto it = LowerKey(sorted_, key);
  if (it != sorted_.end() && it->first == key) return it->second;
  auto fresh = fresh_.find(key);
  if (fresh != fresh_.end()) return fresh->second;
  return std::nullopt;
}

bool KeySet::Insert(std::uint64_t key, std::uint64_t value) {
  if (Find(key)) return false;
  fresh_.emplace(key, value);
  // The hash map costs several times the array per key: merged once it holds an eighth as many.
  if (fresh_.size() > 65536 && fresh_.size() > sorted_.size() / 8) Merge();
  return true;
}

void KeySet::Update(std::uint64_t key, std::uint64_t value) {
  auto it = LowerKey(sorted_, key);
  if (it != sorted_.end() && it->first == key) it->second = value;
  else fresh_[key] = value;
}

void KeySet::Merge() {
  size_t old = sorted_.size();
  sorted_.insert(sorted_.end(), fresh_.begin(), fresh_.end());
  fresh_.clear();
  std::sort(sorted_.begin() + static_cast<std::ptrdiff_t>(old), sorted_.end());
  std::inplace_merge(sorted_.begin(), sorted_.begin() + static_cast<std::ptrdiff_t>(old), sorted_.end());
}

ClickHouseWriter::ClickHouseWriter(const ClickHouseOptions& options)
    : db_(std::make_unique<ClickHouseDatabase>(options)) {
  db_->Prepare();
  std::random_device entropy;
  owner_ = (static_cast<std::uint64_t>(entropy()) << 32 ^ entropy() ^ NowMs()) | 1;
  auto busy = [&] {
    auto running = db_->Running(owner_);
    return running.empty() ? std::string() : running[0][0];
  };
  if (std::string other = busy(); !other.empty())
    throw ClickHouseError("another import (" + other + ") is running on this database; try again when it is done");
  importId_ = static_cast<std::uint32_t>(
      Number(Rows(db_->Read("SELECT max(id) + 1 FROM " + db_->Local("imports"), Deadline::None()), 1).at(0).at(0)));
  Beat(true);
  if (std::string other = busy(); !other.empty()) {
    db_->Mark(importId_, owner_, kAbandoned);
    throw ClickHouseError("another import (" + other + ") started at the same time; try again when it is done");
  }
}

ClickHouseWriter::~ClickHouseWriter() {
  if (committed_) return;
  try {
    db_->Mark(importId_, owner_, kAbandoned);
    db_->Delete(std::to_string(importId_));
  } catch (const std::exception&) {
    // Unseen either way; the rows go with the next clean-up that reaches them.
  }
}

void ClickHouseWriter::Beat(bool force) {
  auto now = std::chrono::steady_clock::now();
  if (!force && now - lastBeat_ < limits::kImportHeartbeat) return;
  db_->Mark(importId_, owner_, kRunning);
  lastBeat_ = now;
}

void ClickHouseWriter::Row(Batch& batch, std::initializer_list<std::string_view> fields) {
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) batch.rows += '\t';
    AppendTsvField(batch.rows, field);
    first = false;
  }
  batch.rows += '\n';
  if (batch.rows.size() >= limits::kInsertBatchBytes) Flush(batch);
}

void ClickHouseWriter::Flush(Batch& batch) {
  if (batch.rows.empty()) return;
  db_->Write("INSERT INTO " + db_->Shared(batch.table) + " (" + batch.columns + ") FORMAT TabSeparated", batch.rows);
  batch.rows.clear();
  if (&batch == &pages_) pagesSent_ = LastVersion();
  Beat();
}

void ClickHouseWriter::LoadKeys(KeySet& keys, const char* table, const char* column, const char* value,
                                const char* having) {
  Deadline deadline = Deadline::In(limits::kClickHouseWriteTimeout);
  std::string from = " FROM " + db_->Shared(table) + " WHERE " + db_->Visible();
  std::int64_t rows = SignedNumber(Rows(db_->Read("SELECT count()" + from, deadline), 1).at(0).at(0));
  std::int64_t parts = rows / limits::kKeysPerLoad + 1;
  std::vector<KeySet::Entry> all;
  all.reserve(static_cast<size_t>(rows));
  for (std::int64_t part = 0; part < parts; ++part) {
    std::string body = db_->Read("SELECT " + std::string(column) + ", " + value + from + " AND " + column + " % " +
                                     std::to_string(parts) + " = " + std::to_string(part) + " GROUP BY " + column +
                                     ", " + value + having,
                                 deadline, kMaxKeyAnswer);
    for (size_t start = 0; start < body.size();) {
      size_t end = body.find('\n', start);
      if (end == std::string::npos) end = body.size();
      std::string_view line = std::string_view(body).substr(start, end - start);
      size_t tab = line.find('\t');
      if (tab == std::string_view::npos) throw ClickHouseError("ClickHouse answered keys of another shape");
      all.emplace_back(Number(line.substr(0, tab)), Number(line.substr(tab + 1)));
      start = end + 1;
    }
    Beat();
  }
  keys.Load(std::move(all));
}

StoreWriter::Put ClickHouseWriter::PutKeyword(const std::string& term, std::int64_t searches) {
  if (!terms_.Loaded()) LoadKeys(terms_, "keywords", "key", "0", "");
  std::uint64_t key = KeyHash(term);
  bool added = terms_.Insert(key);
  std::string import = std::to_string(importId_);
  Row(keywords_, {term, std::to_string(key), std::to_string(searches), std::to_string(NextVersion()), import});
  if (added)
    for (const std::string& word : SplitWords(term)) Row(keywordWords_, {word, term, import});
  return added ? Put::Added : Put::Replaced;
}

StoreWriter::Put ClickHouseWriter::PutRank(const std::string& host, std::int64_t rank) {
  if (!domains_.Loaded()) LoadKeys(domains_, "ranks", "key", "0", "");
  std::string domain = NormalizeHost(host);
  std::uint64_t key = KeyHash(domain);
  bool added = domains_.Insert(key);
  Row(ranks_,
      {domain, std::to_string(key), std::to_string(rank), std::to_string(NextVersion()), std::to_string(importId_)});
  return added ? Put::Added : Put::Replaced;
}

void ClickHouseWriter::LoadUrls() {
  // A page's current id: the versions it retracted sum to 0.
  if (!urls_.Loaded()) LoadKeys(urls_, "pages", "url_hash", "page", " HAVING sum(sign) > 0");
}

// A page as the store keeps it: texts normalised (without the blanks around them that the
// table adds), link targets sorted and distinct.
struct ClickHouseWriter::StoredPage {
  std::uint64_t id = 0, ord = 0, urlHash = 0;
  std::string host, url, title, snippet, titleWords, bodyWords;
  std::vector<std::string> linkHosts;
};

void ClickHouseWriter::WritePage(const StoredPage& page, int sign) {
  std::string id = std::to_string(page.id), signText = std::to_string(sign), import = std::to_string(importId_);
  std::string links;
  for (const std::string& host : page.linkHosts) links += (links.empty() ? "" : " ") + host;
  Row(pages_, {id, std::to_string(page.ord), signText, import, std::to_string(page.urlHash), page.host, page.url,
               page.title, page.snippet, " " + page.titleWords + " ", " " + page.bodyWords + " ", links});
  ForEachGram(page.titleWords, page.bodyWords, [&](std::string_view gram) {
    Row(grams_, {gram, id, signText, import});
  });
  for (const std::string& host : page.linkHosts) Row(links_, {host, id, signText, import});
}

ClickHouseWriter::StoredPage ClickHouseWriter::ReadPage(std::uint64_t id) {
  // A page of this import may still wait in the batch.
  if ((id >> 40) == importId_ && id > pagesSent_) Flush(pages_);
  auto rows =
      Rows(db_->Read("SELECT ord, url_hash, host, url, title, snippet, title_words, body_words, link_hosts FROM " +
                         db_->Shared("pages") + " WHERE page = " + std::to_string(id) + " AND sign = 1",
                     Deadline::In(limits::kClickHouseWriteTimeout)),
           9);
  if (rows.size() != 1)
    throw ClickHouseError("page " + std::to_string(id) + " is not stored once but " + std::to_string(rows.size()) +
                          " times");
  auto& row = rows[0];
  auto inner = [](const std::string& words) { return words.size() >= 2 ? words.substr(1, words.size() - 2) : words; };
  StoredPage page{id,
                  Number(row[0]),
                  Number(row[1]),
                  std::move(row[2]),
                  std::move(row[3]),
                  std::move(row[4]),
                  std::move(row[5]),
                  inner(row[6]),
                  inner(row[7]),
                  {}};
  for (const std::string& host : SplitWords(row[8])) page.linkHosts.push_back(host);
  return page;
}

namespace {
void AddLinks(std::vector<std::string>& hosts, const std::string& own, const std::vector<std::string>& links) {
  for (const std::string& link : links) {
    std::string target = NormalizeHost(link);
    if (!target.empty() && target != own) hosts.push_back(std::move(target));
  }
  std::sort(hosts.begin(), hosts.end());
  hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
}
}  // namespace

bool ClickHouseWriter::AddPage(const PageInput& input) {
  LoadUrls();
  StoredPage page;
  page.urlHash = KeyHash(input.url);
  // An id spent on a repeated address leaves a gap, which nothing minds.
  page.id = page.ord = NextVersion();
  if (!urls_.Insert(page.urlHash, page.id)) return false;
  page.host = NormalizeHost(input.url);
  page.url = input.url;
  page.title = input.title;
  page.snippet = Snippet(input.text);
  page.titleWords = NormalizedText(input.title);
  page.bodyWords = NormalizedText(input.text);
  AddLinks(page.linkHosts, page.host, input.links);
  WritePage(page, 1);
  Beat();
  return true;
}

StoreWriter::Merge ClickHouseWriter::MergePage(const PageInput& input) {
  LoadUrls();
  std::optional<std::uint64_t> id = urls_.Find(KeyHash(input.url));
  if (!id) return AddPage(input) ? Merge::Added : Merge::Unchanged;
  StoredPage old = ReadPage(*id);
  StoredPage page = old;
  if (!input.title.empty()) {
    page.title = input.title;
    page.titleWords = NormalizedText(input.title);
  }
  // Text only for a page that has none: a repeated crawl changes nothing.
  if (old.snippet.empty() && !input.text.empty()) {
    page.snippet = Snippet(input.text);
    page.bodyWords = NormalizedText(input.text);
  }
  AddLinks(page.linkHosts, page.host, input.links);
  if (page.title == old.title && page.snippet == old.snippet && page.linkHosts == old.linkHosts)
    return Merge::Unchanged;
  // Under a new id, so that no posting row of the old version ever stands for the new one.
  WritePage(old, -1);
  page.id = NextVersion();
  WritePage(page, 1);
  urls_.Update(page.urlHash, page.id);
  Beat();
  return Merge::Updated;
}

void ClickHouseWriter::TallyKeyword(const std::string& term, std::int64_t count) {
  tallied_ = true;
  Row(tally_, {term, std::to_string(std::min(count, limits::kMaxDemandTotal)), std::to_string(tallyRound_),
               std::to_string(importId_)});
}

TallyResult ClickHouseWriter::StoreTally(std::int64_t multiply, std::int64_t divide) {
  CheckTallyScale(multiply, divide);
  Flush(tally_);
  TallyResult result;
  Deadline deadline = Deadline::In(limits::kClickHouseWriteTimeout);
  std::string from = " FROM " + db_->Shared("tally") + " WHERE import_id = " + std::to_string(importId_) +
                     " AND round = " + std::to_string(tallyRound_++);
  auto size = Rows(db_->Read("SELECT uniqExact(term), sum(length(term))" + from, deadline), 2).at(0);
  // Parts whose answers stay well inside the cap on one.
  std::uint64_t parts = std::max(Number(size[0]) / limits::kKeysPerLoad, Number(size[1]) / (kMaxKeyAnswer / 4)) + 1;
  for (std::uint64_t part = 0; Number(size[0]) > 0 && part < parts; ++part) {
    // Summed as floats: exact far past the cap of a total, and no sum can wrap around.
    auto totals =
        Rows(db_->Read("SELECT term, toInt64(least(sum(toFloat64(count)), toFloat64(" +
                           std::to_string(limits::kMaxDemandTotal) + ")))" + from + " AND cityHash64(term) % " +
                           std::to_string(parts) + " = " + std::to_string(part) + " GROUP BY term",
                       deadline, kMaxKeyAnswer),
             2);
    for (const auto& row : totals) {
      if (PutKeyword(row[0], TalliedSearches(SignedNumber(row[1]), multiply, divide)) == Put::Added) ++result.added;
      else ++result.replaced;
    }
    Beat();
  }
  return result;
}

void ClickHouseWriter::Commit() {
  for (Batch* batch : {&pages_, &grams_, &links_, &keywords_, &keywordWords_, &ranks_, &tally_}) Flush(*batch);
  Beat(true);
  // Once taken for dead, an import's rows may be gone whatever it has said since.
  auto abandoned =
      Rows(db_->Read("SELECT count() FROM " + db_->Local("imports") + " WHERE id = " + std::to_string(importId_) +
                         " AND owner = " + std::to_string(owner_) + " AND state = " + std::to_string(kAbandoned),
                     Deadline::In(limits::kClickHouseWriteTimeout)),
           1);
  if (Number(abandoned.at(0).at(0)) != 0)
    throw ClickHouseError("the import was taken for dead (its heartbeat stopped) and its rows deleted");
  db_->Mark(importId_, owner_, kComplete);
  committed_ = true;
  // Sums of a finished run are of no more use.
  if (tallied_) db_->Delete(std::to_string(importId_), "tally");
}

}  // namespace quillet::services
