#pragma once
// Finding the known phrases (stored search terms, split and folded as the full-text index
// splits text) that occur in a page, without looking every word sequence of the page up in
// the store: a filter of fixed size holds every leading part of every known phrase, so that
// a word that starts none of them is passed over at once. The filter may let through a
// sequence that is no known phrase (rarely; the store's look-up then finds nothing); it never
// holds back one that is.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quillet::services {

// The words of a text as the full-text index sees them (services/Tokens.h), folded and
// joined by single blanks, so that a run of words is a view of one string.
class FoldedWords {
 public:
  FoldedWords() = default;
  explicit FoldedWords(std::string_view text) { Assign(text); }
  void Assign(std::string_view text);
  std::size_t Size() const { return starts_.size(); }
  // Words first..last (inclusive), joined by blanks.
  std::string_view Run(std::size_t first, std::size_t last) const;
  std::uint64_t Hash(std::size_t word) const { return hashes_[word]; }

 private:
  std::string text_;
  std::vector<std::size_t> starts_;
  std::vector<std::uint64_t> hashes_;
};

class PhraseFilter {
 public:
  // Sized for about that many phrases, within limits::kMaxPhraseFilterBytes; more may be
  // added, at the cost of more sequences let through.
  explicit PhraseFilter(std::size_t expectedPhrases);
  // phrase: folded words joined by single blanks (NormalizedText), at most kMaxWords words.
  void Add(std::string_view phrase);
  // Adds to *found every distinct run of words (of at most limits::kMaxWords) that may be a
  // known phrase. The views point into words.
  void Candidates(const FoldedWords& words, std::unordered_set<std::string_view>* found) const;
  std::size_t Bytes() const { return blocks_.size() * sizeof(std::uint64_t); }
  std::size_t Phrases() const { return phrases_; }

 private:
  bool Has(std::uint64_t key) const;
  void Set(std::uint64_t key);

  std::vector<std::uint64_t> blocks_;
  std::uint64_t mask_ = 0;
  std::size_t phrases_ = 0;
};

// How the known phrases of pages change as pages are stored and changed, found on a thread
// of its own so that the writer goes on storing meanwhile. For each page the writer posts
// its title and text before and after (empty before for a new page); a known phrase in the
// page after but not before counts +1, the other way round -1.
class PhraseCounter {
 public:
  // Phrase -> change of its page count; a phrase with 0 may be a filter candidate only.
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
  };
  using Changes = std::unordered_map<std::string, std::int64_t, Hash, std::equal_to<>>;

  explicit PhraseCounter(std::unique_ptr<PhraseFilter> filter);
  ~PhraseCounter();
  PhraseCounter(const PhraseCounter&) = delete;
  PhraseCounter& operator=(const PhraseCounter&) = delete;

  // Queues a page; waits while more than limits::kPhraseQueueBytes of text is queued.
  void Post(std::string oldTitle, std::string oldText, std::string newTitle, std::string newText);
  // Waits until every page posted is counted and hands over the changes counted since the
  // last call. Rethrows what failed on the counting thread.
  Changes Take();
  // Phrases among the changes not taken yet (as of the last page counted).
  std::size_t Changed() const;
  // Read while pages are counted; changed only when none is queued (right after Take).
  PhraseFilter& Filter() { return *filter_; }

 private:
  struct Page {
    std::string oldTitle, oldText, newTitle, newText;
  };
  void Run();
  void Count(const Page& page);

  std::unique_ptr<PhraseFilter> filter_;
  mutable std::mutex mutex_;
  std::condition_variable work_, done_;
  std::deque<Page> queue_;
  std::size_t queuedBytes_ = 0;
  bool busy_ = false, taking_ = false, stop_ = false;
  std::exception_ptr failure_;
  Changes changes_;  // the counting thread's while it is busy
  std::size_t changed_ = 0;
  FoldedWords words_[4];
  std::thread thread_;  // last: started when everything it uses is there
};

}  // namespace quillet::services
