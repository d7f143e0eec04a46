#include "services/store/sqlite/PhraseFilter.h"

#include <algorithm>

#include "services/Limits.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

std::uint64_t Mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint64_t WordHash(std::string_view word) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (char c : word) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return Mix(h);
}

// The hash of a run of words, one word at a time.
std::uint64_t Step(std::uint64_t run, std::uint64_t word) { return Mix(run * 0x9E3779B97F4A7C15ull + word); }
constexpr std::uint64_t kRunStart = 0x2545F4914F6CDD1Dull;
// A run is held twice, as the leading part of some phrase and as a whole phrase, by two sets
// of bits in the same block: looking at both costs one memory access.
std::uint64_t LeadKey(std::uint64_t run) { return run; }
std::uint64_t WholeKey(std::uint64_t run) { return (run & 0xFFFFFFFFull) | (Mix(run) & ~0xFFFFFFFFull); }

}  // namespace

void FoldedWords::Assign(std::string_view text) {
  text_.clear();
  starts_.clear();
  hashes_.clear();
  ForEachWord(text, [&](std::string_view word, std::size_t, std::size_t) {
    if (!text_.empty()) text_ += ' ';
    starts_.push_back(text_.size());
    text_ += word;
    hashes_.push_back(WordHash(word));
  });
}

std::string_view FoldedWords::Run(std::size_t first, std::size_t last) const {
  std::size_t end = last + 1 < starts_.size() ? starts_[last + 1] - 1 : text_.size();
  return std::string_view(text_).substr(starts_[first], end - starts_[first]);
}

PhraseFilter::PhraseFilter(std::size_t expectedPhrases) {
  // About one 64-bit block per phrase (its leading parts and itself set four bits each).
  std::size_t blocks = 1024;
  const std::size_t most = limits::kMaxPhraseFilterBytes / sizeof(std::uint64_t);
  while (blocks < expectedPhrases && blocks < most) blocks *= 2;
  blocks_.assign(blocks, 0);
  mask_ = blocks - 1;
}

namespace {

std::uint64_t Bits(std::uint64_t key) {
  // The block comes from the low bits (at most 2^22 blocks), the four bits from the high.
  std::uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= std::uint64_t{1} << ((key >> (40 + 6 * i)) & 63);
  return bits;
}

}  // namespace

bool PhraseFilter::Has(std::uint64_t key) const {
  std::uint64_t bits = Bits(key);
  return (blocks_[key & mask_] & bits) == bits;
}

void PhraseFilter::Set(std::uint64_t key) { blocks_[key & mask_] |= Bits(key); }

void PhraseFilter::Add(std::string_view phrase) {
  std::uint64_t run = kRunStart;
  std::size_t start = 0;
  while (start <= phrase.size()) {
    std::size_t blank = std::min(phrase.find(' ', start), phrase.size());
    run = Step(run, WordHash(phrase.substr(start, blank - start)));
    Set(LeadKey(run));
    start = blank + 1;
  }
  Set(WholeKey(run));
  ++phrases_;
}

void PhraseFilter::Candidates(const FoldedWords& words, std::unordered_set<std::string_view>* found) const {
  const std::size_t n = words.Size();
  // Each word is looked up in a large table at a random place: asking for the place a few
  // words ahead keeps the lookups from waiting on memory one after the other.
  constexpr std::size_t kAhead = 8;
  for (std::size_t first = 0; first < n; ++first) {
    if (first + kAhead + 1 < n) {
      // Most words start some phrase: the run of two is asked for as well.
      std::uint64_t one = Step(kRunStart, words.Hash(first + kAhead));
      __builtin_prefetch(&blocks_[LeadKey(one) & mask_]);
      __builtin_prefetch(&blocks_[LeadKey(Step(one, words.Hash(first + kAhead + 1))) & mask_]);
    }
    std::uint64_t run = kRunStart;
    std::size_t end = std::min(n, first + limits::kMaxWords);
    for (std::size_t last = first; last < end; ++last) {
      run = Step(run, words.Hash(last));
      if (!Has(LeadKey(run))) break;
      if (Has(WholeKey(run))) found->insert(words.Run(first, last));
    }
  }
}

}  // namespace quillet::services

namespace quillet::services {

PhraseCounter::PhraseCounter(std::unique_ptr<PhraseFilter> filter)
    : filter_(std::move(filter)), thread_([this] { Run(); }) {}

PhraseCounter::~PhraseCounter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_one();
  thread_.join();
}

namespace {

// The counting thread is woken once this much text is queued (or for Take), not for each
// page: a page's wake-up would cost about as much as counting it.
constexpr std::size_t kWakeBytes = 1024 * 1024;

}  // namespace

void PhraseCounter::Post(std::string oldTitle, std::string oldText, std::string newTitle, std::string newText) {
  std::size_t bytes = oldTitle.size() + oldText.size() + newTitle.size() + newText.size();
  std::unique_lock<std::mutex> lock(mutex_);
  // One page always goes in, so that a page larger than the bound cannot wait for ever.
  done_.wait(lock, [&] { return failure_ || queue_.empty() || queuedBytes_ + bytes <= limits::kPhraseQueueBytes; });
  if (failure_) std::rethrow_exception(failure_);
  queue_.push_back({std::move(oldTitle), std::move(oldText), std::move(newTitle), std::move(newText)});
  queuedBytes_ += bytes;
  bool wake = queuedBytes_ >= kWakeBytes;
  lock.unlock();
  if (wake) work_.notify_one();
}

PhraseCounter::Changes PhraseCounter::Take() {
  std::unique_lock<std::mutex> lock(mutex_);
  taking_ = true;
  work_.notify_one();
  done_.wait(lock, [&] { return failure_ || (queue_.empty() && !busy_); });
  taking_ = false;
  if (failure_) std::rethrow_exception(failure_);
  Changes taken;
  taken.swap(changes_);
  changed_ = 0;
  return taken;
}

std::size_t PhraseCounter::Changed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return changed_;
}

void PhraseCounter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  // Once awake, the thread counts until the queue is empty.
  bool awake = false;
  for (;;) {
    if (!awake)
      work_.wait(lock, [&] { return stop_ || (!queue_.empty() && (taking_ || queuedBytes_ >= kWakeBytes)); });
    if (stop_) return;
    awake = !queue_.empty();
    if (!awake) continue;
    Page page = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    std::exception_ptr failure;
    try {
      Count(page);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    busy_ = false;
    queuedBytes_ -= page.oldTitle.size() + page.oldText.size() + page.newTitle.size() + page.newText.size();
    changed_ = changes_.size();
    if (failure && !failure_) failure_ = failure;
    done_.notify_all();
  }
}

void PhraseCounter::Count(const Page& page) {
  // The index matches a phrase within one column: title and text are looked at apart.
  std::unordered_set<std::string_view> before, after;
  words_[0].Assign(page.oldTitle);
  words_[1].Assign(page.oldText);
  words_[2].Assign(page.newTitle);
  words_[3].Assign(page.newText);
  filter_->Candidates(words_[0], &before);
  filter_->Candidates(words_[1], &before);
  filter_->Candidates(words_[2], &after);
  filter_->Candidates(words_[3], &after);
  auto change = [&](std::string_view phrase, std::int64_t by) {
    auto it = changes_.find(phrase);
    if (it == changes_.end()) it = changes_.emplace(std::string(phrase), 0).first;
    it->second += by;
  };
  for (std::string_view phrase : after)
    if (!before.count(phrase)) change(phrase, 1);
  for (std::string_view phrase : before)
    if (!after.count(phrase)) change(phrase, -1);
}

}  // namespace quillet::services
