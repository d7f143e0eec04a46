#pragma once
// Finding the known phrases (stored search terms, split and folded as the full-text index
// splits text) that occur in a page, without looking every word sequence of the page up in
// the store: a filter of fixed size holds every leading part of every known phrase, so that
// a word that starts none of them is passed over at once. The filter may let through a
// sequence that is no known phrase (rarely; the store's look-up then finds nothing); it never
// holds back one that is.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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

}  // namespace quillet::services
