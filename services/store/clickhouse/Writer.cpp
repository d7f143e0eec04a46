#include <algorithm>
#include <functional>
#include <random>

#include "services/store/Rules.h"
#include "services/store/clickhouse/ClickHouseStore.h"
#include "services/store/clickhouse/KeySet.h"
#include "services/store/clickhouse/Schema.h"
#include "services/text/Hosts.h"
#include "services/text/Keys.h"
#include "services/text/Utf8.h"
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

ClickHouseWriter::ClickHouseWriter(const ClickHouseOptions& options) : ClickHouseWriter(options, false) {}

ClickHouseWriter::ClickHouseWriter(const ClickHouseOptions& options, bool upgrading)
    : db_(std::make_unique<ClickHouseDatabase>(options)),
      urls_(std::make_unique<KeySet>()),
      terms_(std::make_unique<KeySet>()),
      domains_(std::make_unique<KeySet>()) {
  if (!upgrading) UpgradeClickHouse(options);
  db_->Prepare(upgrading);
  std::random_device entropy;
  owner_ = (static_cast<std::uint64_t>(entropy()) << 32 ^ entropy() ^ NowMs()) | 1;
  auto busy = [&] {
    auto running = db_->Running(owner_);
    return running.empty() ? std::string() : running[0][0];
  };
  if (std::string other = busy(); !other.empty())
    throw ClickHouseError("another import (" + other + ") is running on this database; try again when it is done");
  importId_ = partId_ = db_->NextImportId();
  ids_ = {importId_};
  Beat(true);
  if (std::string other = busy(); !other.empty()) {
    db_->Mark(ids_, owner_, kAbandoned);
    throw ClickHouseError("another import (" + other + ") started at the same time; try again when it is done");
  }
}

ClickHouseWriter::~ClickHouseWriter() {
  if (committed_) return;
  try {
    db_->Mark(ids_, owner_, kAbandoned);
    db_->Delete(IdList());
  } catch (const std::exception&) {
    // Unseen either way; the rows go with the next clean-up that reaches them.
  }
}

std::string ClickHouseWriter::IdList() const {
  std::string list;
  for (std::uint32_t id : ids_) list += (list.empty() ? "" : ", ") + std::to_string(id);
  return list;
}

std::vector<ClickHouseWriter::Batch*> ClickHouseWriter::Batches() {
  return {&pages_, &grams_, &links_, &keywords_, &keywordWords_, &ranks_, &tally_};
}

void ClickHouseWriter::Beat(bool force) {
  auto now = std::chrono::steady_clock::now();
  if (!force && now - lastBeat_ < limits::kImportHeartbeat) return;
  db_->Mark(ids_, owner_, kRunning);
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
  ++batch.flushes;
  if (&batch == &pages_) pagesSent_ = LastVersion();
  Beat();
}

void ClickHouseWriter::LoadKeys(KeySet& keys, const char* table, const char* column, const std::string& value,
                                const char* group, const char* having) {
  Deadline deadline = Deadline::In(limits::kClickHouseWriteTimeout);
  // This import's own rows count once they are sent: keys are loaded again after a rollback.
  std::string from = " FROM " + db_->Shared(table) + " WHERE (" + db_->Visible() + " OR import_id IN (" + IdList() + "))";
  std::int64_t rows = SignedNumber(Rows(db_->Read("SELECT count()" + from, deadline), 1).at(0).at(0));
  std::int64_t parts = rows / limits::kKeysPerLoad + 1;
  std::vector<KeySet::Entry> all;
  all.reserve(static_cast<size_t>(rows));
  for (std::int64_t part = 0; part < parts; ++part) {
    std::string body = db_->Read("SELECT " + std::string(column) + ", " + value + from + " AND " + column + " % " +
                                     std::to_string(parts) + " = " + std::to_string(part) + " GROUP BY " + group +
                                     having,
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

void ClickHouseWriter::LoadTerms() {
  if (!terms_->Loaded()) LoadKeys(*terms_, "keywords", "key", "0", "key", "");
}

void ClickHouseWriter::LoadDomains() {
  // The value of a domain: the best rank this import gave it, 0 when it gave none.
  if (!domains_->Loaded())
    LoadKeys(*domains_, "ranks", "key", "minIf(rank, import_id IN (" + IdList() + "))", "key", "");
}

StoreWriter::Put ClickHouseWriter::PutKeyword(const std::string& term, std::int64_t searches) {
  LoadTerms();
  std::uint64_t key = KeyHash(term);
  bool added = terms_->Insert(key);
  std::string import = std::to_string(partId_);
  Row(keywords_, {term, std::to_string(key), std::to_string(searches), std::to_string(NextVersion()), import});
  if (added)
    for (const std::string& word : SuggestionWords(term)) Row(keywordWords_, {word, term, import});
  return added ? Put::Added : Put::Replaced;
}

StoreWriter::Put ClickHouseWriter::PutRank(const std::string& host, std::int64_t rank) {
  LoadDomains();
  std::string domain = NormalizeHost(host);
  std::uint64_t key = KeyHash(domain);
  // The key set holds the best rank this import gave a domain (0 for one stored before it):
  // a worse one is kept out, a better one written after it, so the latest row is the best.
  std::optional<std::uint64_t> given = domains_->Find(key);
  if (given && *given != 0 && static_cast<std::uint64_t>(rank) >= *given) return Put::Kept;
  if (given) domains_->Update(key, static_cast<std::uint64_t>(rank));
  else domains_->Insert(key, static_cast<std::uint64_t>(rank));
  Row(ranks_,
      {domain, std::to_string(key), std::to_string(rank), std::to_string(NextVersion()), std::to_string(partId_)});
  return given ? Put::Replaced : Put::Added;
}

void ClickHouseWriter::LoadUrls() {
  // A page's current id: the versions it retracted sum to 0.
  if (!urls_->Loaded()) LoadKeys(*urls_, "pages", "url_hash", "page", "url_hash, page", " HAVING sum(sign) > 0");
}

// A page as the store keeps it: texts normalised (without the blanks around them that the
// table adds), link targets sorted and distinct.
void ClickHouseWriter::WritePage(const StoredPage& page, int sign) {
  std::string id = std::to_string(page.id), signText = std::to_string(sign), import = std::to_string(partId_);
  std::string links;
  for (const std::string& host : page.linkHosts) links += (links.empty() ? "" : " ") + host;
  Row(pages_, {id, std::to_string(page.ord), signText, import, std::to_string(page.urlHash), page.host, page.url,
               page.title, page.snippet, " " + page.titleWords + " ", " " + page.bodyWords + " ", links});
  ForEachGram(page.titleWords, page.bodyWords, [&](std::string_view gram) {
    Row(grams_, {gram, id, signText, import});
  });
  for (const std::string& host : page.linkHosts) Row(links_, {host, id, signText, import});
}

namespace {

// The columns of a stored page as ParsePage reads them.
constexpr const char* kPageColumns =
    "page, ord, url_hash, host, url, title, snippet, title_words, body_words, link_hosts";
constexpr std::size_t kPageColumnCount = 10;
// Pages read ahead when a stored page is merged: at most this many ids, each of this size.
constexpr std::uint64_t kReadAheadPages = 512;
constexpr std::size_t kReadAheadRowBytes = 16384;

}  // namespace

ClickHouseWriter::StoredPage ClickHouseWriter::ParsePage(std::vector<std::string>& row) {
  auto inner = [](const std::string& words) { return words.size() >= 2 ? words.substr(1, words.size() - 2) : words; };
  StoredPage page{Number(row[0]),    Number(row[1]),    Number(row[2]), std::move(row[3]), std::move(row[4]),
                  std::move(row[5]), std::move(row[6]), inner(row[7]),  inner(row[8]),     {}};
  for (const std::string& host : BlankSeparated(row[9])) page.linkHosts.push_back(host);
  return page;
}

ClickHouseWriter::StoredPage ClickHouseWriter::ReadPage(std::uint64_t id) {
  auto ahead = [&] {
    return std::lower_bound(readAhead_.begin(), readAhead_.end(), id,
                            [](const StoredPage& page, std::uint64_t wanted) { return page.id < wanted; });
  };
  // A version's row never changes (a change is stored under a new id): a row read ahead
  // stays right for as long as it is kept.
  if (auto found = ahead(); found != readAhead_.end() && found->id == id) return *found;
  // A page of this import may still wait in the batch (ids of earlier imports are lower).
  if (id > pagesSent_) Flush(pages_);
  // A crawl's text comes in the order its metadata was stored: the pages after this one are
  // read with it, those without text and of a small size only, so that the answer stays small.
  const std::string first = std::to_string(id);
  auto rows = Rows(db_->Read(std::string("SELECT ") + kPageColumns + " FROM " + db_->Shared("pages") +
                                 " WHERE page >= " + first + " AND page < " + std::to_string(id + kReadAheadPages) +
                                 " AND sign = 1 AND (page = " + first +
                                 " OR (snippet = '' AND length(url) + length(title) + length(title_words) + "
                                 "length(link_hosts) < " +
                                 std::to_string(kReadAheadRowBytes) + ")) ORDER BY page",
                             Deadline::In(limits::kClickHouseWriteTimeout), limits::kMaxClickHouseKeyAnswer),
                   kPageColumnCount);
  readAhead_.clear();
  for (auto& row : rows) readAhead_.push_back(ParsePage(row));
  auto found = ahead();
  std::size_t times = 0;
  for (auto it = found; it != readAhead_.end() && it->id == id; ++it) ++times;
  if (times != 1) throw ClickHouseError("page " + first + " is not stored once but " + std::to_string(times) + " times");
  return *found;
}

void ClickHouseWriter::Replace(const StoredPage& old, StoredPage page) {
  // Under a new id, so that no posting row of the old version ever stands for the new one.
  WritePage(old, -1);
  page.id = NextVersion();
  WritePage(page, 1);
  urls_->Update(page.urlHash, page.id);
  Beat();
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
  Replace(old, std::move(page));
  return Merge::Updated;
}

void ClickHouseWriter::TallyKeyword(const std::string& term, std::int64_t count) {
  tallied_ = true;
  Row(tally_, {term, std::to_string(std::min(count, limits::kMaxDemandTotal)), std::to_string(tallyRound_),
               std::to_string(partId_)});
}

TallyResult ClickHouseWriter::StoreTally(std::int64_t multiply, std::int64_t divide) {
  CheckTallyScale(multiply, divide);
  Flush(tally_);
  TallyResult result;
  Deadline deadline = Deadline::In(limits::kClickHouseWriteTimeout);
  std::string from = " FROM " + db_->Shared("tally") + " WHERE import_id IN (" + IdList() +
                     ") AND round = " + std::to_string(tallyRound_++);
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

void ClickHouseWriter::Mark() {
  MarkPoint point{partId_, {}};
  for (Batch* batch : Batches()) point.batches.emplace_back(batch->rows.size(), batch->flushes);
  partId_ = db_->NextImportId();
  ids_.push_back(partId_);
  Beat(true);
  mark_ = std::move(point);
}

void ClickHouseWriter::ReleaseMark() { mark_.reset(); }

void ClickHouseWriter::RollBackToMark() {
  readAhead_.clear();
  // Rows since the mark: those still here go, those sent stay unseen under the abandoned part.
  std::vector<Batch*> batches = Batches();
  for (std::size_t i = 0; i < batches.size(); ++i) {
    auto [size, flushes] = mark_->batches[i];
    if (batches[i]->flushes == flushes) batches[i]->rows.resize(size);
    else batches[i]->rows.clear();
  }
  std::uint32_t part = partId_;
  db_->Mark({part}, owner_, kAbandoned);
  ids_.pop_back();
  partId_ = mark_->part;
  mark_.reset();
  // The keys this import knows are loaded again, from its rows up to the mark (sent now)
  // and those of complete imports, rather than each change being noted in memory.
  for (Batch* batch : batches) Flush(*batch);
  for (clickhouse::KeySet* keys : {urls_.get(), terms_.get(), domains_.get()}) keys->Clear();
  try {
    db_->Delete(std::to_string(part));
  } catch (const std::exception&) {
    // Unseen either way; the rows go with the next clean-up that reaches them.
  }
}


void ClickHouseWriter::RecordSource(const SourceRecord& source) { sources_.push_back(source); }

bool ClickHouseWriter::HasSource(const std::string& address, std::int64_t firstLines) {
  // One import runs at a time, so none can record the address between this and Commit.
  for (const SourceRecord& found : db_->Sources(address))
    if (Covers(found, firstLines)) return true;
  return false;
}

void ClickHouseWriter::Commit() {
  for (Batch* batch : Batches()) Flush(*batch);
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
      Rows(db_->Read("SELECT count() FROM " + db_->Local("imports") + " WHERE id IN (" + IdList() +
                         ") AND owner = " + std::to_string(owner_) + " AND state = " + std::to_string(kAbandoned),
                     Deadline::In(limits::kClickHouseWriteTimeout)),
           1);
  if (Number(abandoned.at(0).at(0)) != 0)
    throw ClickHouseError("the import was taken for dead (its heartbeat stopped) and its rows deleted");
  db_->Mark(ids_, owner_, kComplete);
  committed_ = true;
  // Sums of a finished run are of no more use.
  if (tallied_) db_->Delete(IdList(), "tally");
}

namespace {

// A character class of code points (all non-ASCII) as match() reads it, runs as ranges.
std::string CharacterClass(const std::vector<char32_t>& codes) {
  std::string out = "[";
  for (std::size_t i = 0; i < codes.size();) {
    std::size_t j = i;
    while (j + 1 < codes.size() && codes[j + 1] == codes[j] + 1) ++j;
    AppendUtf8(out, codes[i]);
    if (j > i) {
      out += '-';
      AppendUtf8(out, codes[j]);
    }
    i = j + 1;
  }
  return out + "]";
}

}  // namespace

std::uint64_t ClickHouseWriter::Parts(const std::string& sizes) {
  auto size = Rows(db_->Read(sizes, Deadline::In(limits::kClickHouseWriteTimeout)), 2).at(0);
  // Parts whose answers stay well inside the cap on one.
  return std::max(Number(size[0]) / limits::kKeysPerLoad, Number(size[1]) / (limits::kMaxClickHouseKeyAnswer / 4)) + 1;
}

void ClickHouseWriter::RefoldKeys(const std::string& table, const std::string& key, const std::string& value,
                                  const std::string& only, const std::function<std::string(const std::string&)>& fold,
                                  const char* keep,
                                  const std::function<void(const std::string&, std::int64_t, bool)>& write) {
  // Names that now fold alike become one, which the tally gathers on the servers (memory
  // stays bounded): round R holds the names that fold otherwise now, round R + 1 the others.
  tallied_ = true;
  const std::uint32_t round = tallyRound_;
  tallyRound_ += 2;
  std::string from = " FROM " + db_->Shared(table) + " WHERE " + db_->Visible() + only;
  Deadline deadline = Deadline::In(limits::kClickHouseWriteTimeout);
  std::uint64_t parts = Parts("SELECT uniqExact(" + key + "), sum(length(" + key + "))" + from);
  for (std::uint64_t part = 0; part < parts; ++part) {
    auto rows = Rows(db_->Read("SELECT " + key + ", " + value + from + " AND cityHash64(" + key + ") % " +
                                   std::to_string(parts) + " = " + std::to_string(part) + " GROUP BY " + key,
                               deadline, limits::kMaxClickHouseKeyAnswer),
                     2);
    for (const auto& row : rows) {
      std::string folded = fold(row[0]);
      if (folded.empty()) continue;
      Row(tally_, {folded, row[1], std::to_string(round + (folded == row[0] ? 1 : 0)), std::to_string(partId_)});
    }
    Beat();
  }
  Flush(tally_);
  std::string tally = " FROM " + db_->Shared("tally") + " WHERE import_id IN (" + IdList() + ") AND round IN (" +
                      std::to_string(round) + ", " + std::to_string(round + 1) + ")";
  parts = Parts("SELECT uniqExact(term), sum(length(term))" + tally);
  for (std::uint64_t part = 0; part < parts; ++part) {
    auto rows =
        Rows(db_->Read("SELECT term, " + std::string(keep) + "(count), countIf(round = " + std::to_string(round) +
                           ") > 0" + tally + " AND cityHash64(term) % " + std::to_string(parts) + " = " +
                           std::to_string(part) + " GROUP BY term",
                       deadline, limits::kMaxClickHouseKeyAnswer),
             3);
    for (const auto& row : rows) write(row[0], SignedNumber(row[1]), row[2] == "1");
    Beat();
  }
}

void ClickHouseWriter::Refold() {
  const std::string part = std::to_string(partId_);
  // Terms as NormalizeTerm folds them now (alike ones keep the larger count), and the words
  // of every term as SuggestionWords makes them now. The rows of terms as they were stay,
  // found by no word.
  RefoldKeys(
      "keywords", "term", "argMax(searches, version)", "",
      [](const std::string& term) { return NormalizeTerm(term, nullptr).value_or(""); }, "max",
      [&](const std::string& term, std::int64_t searches, bool changed) {
        for (const std::string& word : SuggestionWords(term)) Row(keywordWords_, {word, term, part});
        if (changed)
          Row(keywords_,
              {term, std::to_string(KeyHash(term)), std::to_string(searches), std::to_string(NextVersion()), part});
      });
  // Rank domains, of those with non-ASCII letters (only they can fold otherwise now; alike
  // ones keep the better rank). A rank is looked up by its folded name, so the rows as they
  // were are never met again.
  const std::string hostLetters = SqlString(CharacterClass(CaseFoldedCodePoints()));
  RefoldKeys(
      "ranks", "domain", "argMax(rank, version)", " AND match(domain, " + SqlString("[^\\x00-\\x7F]") + ")",
      [](const std::string& domain) { return ValidHost(domain); }, "min",
      [&](const std::string& domain, std::int64_t rank, bool changed) {
        if (changed)
          Row(ranks_,
              {domain, std::to_string(KeyHash(domain)), std::to_string(rank), std::to_string(NextVersion()), part});
      });
  // Pages whose words or hosts fold otherwise now are stored anew, as MergePage does.
  LoadUrls();
  const std::string wordLetters = SqlString(CharacterClass(WordFoldedCodePoints()));
  std::string from = " FROM " + db_->Shared("pages") + " WHERE " + db_->Visible() +
                     " AND sign = 1 AND (match(title_words, " + wordLetters + ") OR match(body_words, " + wordLetters +
                     ") OR match(host, " + hostLetters + ") OR match(link_hosts, " + hostLetters + "))";
  std::uint64_t parts = Parts("SELECT count(), sum(length(title_words) + length(body_words))" + from);
  for (std::uint64_t slice = 0; slice < parts; ++slice) {
    auto rows = Rows(db_->Read(std::string("SELECT ") + kPageColumns + from + " AND page % " + std::to_string(parts) +
                                   " = " + std::to_string(slice),
                               Deadline::In(limits::kClickHouseWriteTimeout), limits::kMaxClickHouseKeyAnswer),
                     kPageColumnCount);
    for (auto& row : rows) {
      StoredPage old = ParsePage(row);
      if (urls_->Find(old.urlHash) != old.id) continue;  // a version a later one retracted
      StoredPage page = old;
      page.host = NormalizeHost(old.host);
      page.titleWords = NormalizedText(old.titleWords);
      page.bodyWords = NormalizedText(old.bodyWords);
      page.linkHosts = LinkHosts(page.host, old.linkHosts);
      if (page.host != old.host || page.titleWords != old.titleWords || page.bodyWords != old.bodyWords ||
          page.linkHosts != old.linkHosts)
        Replace(old, std::move(page));
    }
  }
}

void UpgradeClickHouse(const ClickHouseOptions& options) {
  ClickHouseDatabase db(options);
  if (!db.HoldsEarlierSchema()) return;
  std::uint32_t upgrade;
  {
    ClickHouseWriter writer(options, true);
    writer.Refold();
    writer.Commit();
    upgrade = writer.ImportId();
  }
  // The words of terms as they were go, once the new ones are seen, before the version
  // says they are gone: an upgrade cut short is run again from the start.
  db.DeleteEarlier("keyword_words", upgrade);
  db.WaitForMutations("keyword_words");
  db.SetVersion(kClickHouseSchemaVersion);
}

}  // namespace quillet::services
