#include <algorithm>
#include <random>

#include "services/store/Rules.h"
#include "services/store/clickhouse/ClickHouseStore.h"
#include "services/store/clickhouse/KeySet.h"
#include "services/store/clickhouse/Schema.h"
#include "services/text/Hosts.h"
#include "services/text/Words.h"

namespace quillet::services {
using namespace clickhouse;
namespace {

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

ClickHouseWriter::ClickHouseWriter(const ClickHouseOptions& options)
    : db_(std::make_unique<ClickHouseDatabase>(options)),
      urls_(std::make_unique<KeySet>()),
      terms_(std::make_unique<KeySet>()),
      domains_(std::make_unique<KeySet>()) {
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
                                 deadline, limits::kMaxClickHouseKeyAnswer);
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
  if (!terms_->Loaded()) LoadKeys(*terms_, "keywords", "key", "0", "");
  std::uint64_t key = KeyHash(term);
  bool added = terms_->Insert(key);
  std::string import = std::to_string(importId_);
  Row(keywords_, {term, std::to_string(key), std::to_string(searches), std::to_string(NextVersion()), import});
  if (added)
    for (const std::string& word : SuggestionWords(term)) Row(keywordWords_, {word, term, import});
  return added ? Put::Added : Put::Replaced;
}

StoreWriter::Put ClickHouseWriter::PutRank(const std::string& host, std::int64_t rank) {
  if (!domains_->Loaded()) LoadKeys(*domains_, "ranks", "key", "0", "");
  std::string domain = NormalizeHost(host);
  std::uint64_t key = KeyHash(domain);
  bool added = domains_->Insert(key);
  Row(ranks_,
      {domain, std::to_string(key), std::to_string(rank), std::to_string(NextVersion()), std::to_string(importId_)});
  return added ? Put::Added : Put::Replaced;
}

void ClickHouseWriter::LoadUrls() {
  // A page's current id: the versions it retracted sum to 0.
  if (!urls_->Loaded()) LoadKeys(*urls_, "pages", "url_hash", "page", " HAVING sum(sign) > 0");
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
  for (const std::string& host : BlankSeparated(row[8])) page.linkHosts.push_back(host);
  return page;
}

bool ClickHouseWriter::AddPage(const PageInput& input) {
  LoadUrls();
  StoredPage page;
  page.urlHash = KeyHash(input.url);
  // An id spent on a repeated address leaves a gap, which nothing minds.
  page.id = page.ord = NextVersion();
  if (!urls_->Insert(page.urlHash, page.id)) return false;
  page.host = NormalizeHost(input.url);
  page.url = input.url;
  page.title = input.title;
  page.snippet = Snippet(input.text);
  page.titleWords = NormalizedText(input.title);
  page.bodyWords = NormalizedText(input.text);
  page.linkHosts = LinkHosts(page.host, input.links);
  WritePage(page, 1);
  Beat();
  return true;
}

StoreWriter::Merge ClickHouseWriter::MergePage(const PageInput& input) {
  LoadUrls();
  std::optional<std::uint64_t> id = urls_->Find(KeyHash(input.url));
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
  std::vector<std::string> links = LinkHosts(page.host, input.links);
  page.linkHosts.insert(page.linkHosts.end(), links.begin(), links.end());
  std::sort(page.linkHosts.begin(), page.linkHosts.end());
  page.linkHosts.erase(std::unique(page.linkHosts.begin(), page.linkHosts.end()), page.linkHosts.end());
  if (page.title == old.title && page.snippet == old.snippet && page.linkHosts == old.linkHosts)
    return Merge::Unchanged;
  // Under a new id, so that no posting row of the old version ever stands for the new one.
  WritePage(old, -1);
  page.id = NextVersion();
  WritePage(page, 1);
  urls_->Update(page.urlHash, page.id);
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
  std::uint64_t parts =
      std::max(Number(size[0]) / limits::kKeysPerLoad, Number(size[1]) / (limits::kMaxClickHouseKeyAnswer / 4)) + 1;
  for (std::uint64_t part = 0; Number(size[0]) > 0 && part < parts; ++part) {
    // Summed as floats: exact far past the cap of a total, and no sum can wrap around.
    auto totals =
        Rows(db_->Read("SELECT term, toInt64(least(sum(toFloat64(count)), toFloat64(" +
                           std::to_string(limits::kMaxDemandTotal) + ")))" + from + " AND cityHash64(term) % " +
                           std::to_string(parts) + " = " + std::to_string(part) + " GROUP BY term",
                       deadline, limits::kMaxClickHouseKeyAnswer),
             2);
    for (const auto& row : totals) PutTallied(*this, row[0], SignedNumber(row[1]), multiply, divide, &result);
    Beat();
  }
  return result;
}

void ClickHouseWriter::RecordSource(const SourceRecord& source) { sources_.push_back(source); }

bool ClickHouseWriter::HasSource(const std::string& address, std::int64_t firstLines) {
  // One import runs at a time, so none can record the address between this and Commit.
  for (const SourceRecord& found : db_->Sources(address))
    if (Covers(found, firstLines)) return true;
  return false;
}

void ClickHouseWriter::Commit() {
  for (Batch* batch : {&pages_, &grams_, &links_, &keywords_, &keywordWords_, &ranks_, &tally_}) Flush(*batch);
  if (!sources_.empty()) {
    // Seen only once the import is marked complete, like every other row of it.
    std::string rows;
    const std::string at = std::to_string(NowMs()), id = std::to_string(importId_);
    for (const SourceRecord& source : sources_) {
      const std::string fields[] = {id,
                                    source.address,
                                    source.kind,
                                    std::to_string(source.bytes),
                                    std::to_string(source.stored),
                                    std::to_string(source.firstLines),
                                    at};
      for (const std::string& field : fields) {
        if (&field != fields) rows += '\t';
        AppendTsvField(rows, field);
      }
      rows += '\n';
    }
    db_->Write("INSERT INTO " + db_->Local("sources") + " FORMAT TabSeparated", rows);
  }
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
