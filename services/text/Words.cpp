#include "services/text/Words.h"

#include <algorithm>
#include <cstdint>

#include "services/text/Strings.h"
#include "services/text/Utf8.h"

namespace quillet::services {
namespace {

struct FoldBlock {
  char32_t first, end;
  const char* forms[0x200];
};
struct CaseFold {
  char32_t from, to;
};

#include "services/text/WordFold.inc"

// Code points that separate words: punctuation, symbols, spaces, controls and the like.
bool Separates(char32_t c) {
  if (c < 0x80) return !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
  if (c <= 0xBF)
    return !(c == 0xAA || c == 0xB2 || c == 0xB3 || c == 0xB5 || c == 0xB9 || c == 0xBA || (c >= 0xBC && c <= 0xBE));
  static constexpr char32_t kRanges[][2] = {
      {0x2000, 0x206F}, {0x20A0, 0x20CF}, {0x2100, 0x214F},   {0x2190, 0x2BFF},   {0x2E00, 0x2E7F}, {0x3000, 0x303F},
      {0xFE00, 0xFE0F}, {0xFE30, 0xFE6F}, {0xFEFF, 0xFEFF},   {0xFF00, 0xFF0F},   {0xFF1A, 0xFF20}, {0xFF3B, 0xFF40},
      {0xFF5B, 0xFF65}, {0xFFF0, 0xFFFF}, {0x1F000, 0x1FAFF}, {0xE0000, 0xE007F},
  };
  for (const auto& range : kRanges)
    if (c >= range[0] && c <= range[1]) return true;
  return false;
}

// Combining marks belong to the letter before them and are dropped with its accent.
bool IsCombining(char32_t c) {
  return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF) ||
         (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE20 && c <= 0xFE2F);
}

// The folded form of a letter or digit, appended to word; false when it separates words.
bool AppendFolded(char32_t c, std::string_view original, std::string* word) {
  if (c < 0x80) {
    if (Separates(c)) return false;
    *word += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return true;
  }
  for (const FoldBlock* block : kFoldBlocks) {
    if (c >= block->first && c < block->end) {
      const char* form = block->forms[c - block->first];
      if (!form) return false;
      *word += form;
      return true;
    }
  }
  if (Separates(c)) return false;
  char32_t folded = FoldCodePoint(c);
  if (folded == c) *word += original;
  else AppendUtf8(*word, folded);
  return true;
}

}  // namespace

char32_t FoldCodePoint(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
  auto it = std::lower_bound(std::begin(kCaseFolds), std::end(kCaseFolds), c,
                             [](const CaseFold& fold, char32_t code) { return fold.from < code; });
  return it != std::end(kCaseFolds) && it->from == c ? it->to : c;
}

std::string FoldCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char ascii = text[i];
    if (static_cast<unsigned char>(ascii) < 0x80) {
      out += ascii >= 'A' && ascii <= 'Z' ? static_cast<char>(ascii - 'A' + 'a') : ascii;
      ++i;
      continue;
    }
    std::size_t length = 1;
    char32_t c = DecodeUtf8(text, i, &length);
    char32_t folded = c == kInvalidCodePoint || IsSurrogate(c) ? c : FoldCodePoint(c);
    if (folded == c) out.append(text, i, length);
    else AppendUtf8(out, folded);
    i += length;
  }
  return out;
}

std::vector<char32_t> CaseFoldedCodePoints() {
  std::vector<char32_t> codes;
  for (const CaseFold& fold : kCaseFolds)
    if (fold.from >= 0x80) codes.push_back(fold.from);
  return codes;
}

std::vector<char32_t> WordFoldedCodePoints() {
  std::vector<char32_t> codes;
  for (const FoldBlock* block : kFoldBlocks) {
    for (char32_t c = block->first; c < block->end; ++c) {
      const char* form = block->forms[c - block->first];
      std::string own;
      AppendUtf8(own, c);
      if (form && own != form) codes.push_back(c);
    }
  }
  for (const CaseFold& fold : kCaseFolds) {
    bool inBlock = std::any_of(std::begin(kFoldBlocks), std::end(kFoldBlocks), [&](const FoldBlock* block) {
      return fold.from >= block->first && fold.from < block->end;
    });
    if (fold.from >= 0x80 && !inBlock && !Separates(fold.from)) codes.push_back(fold.from);
  }
  std::sort(codes.begin(), codes.end());
  return codes;
}

namespace {

// ASCII letters and digits as a word keeps them (lower case), 0 for what separates words.
struct AsciiWordBytes {
  char folded[0x80] = {};
  constexpr AsciiWordBytes() {
    for (int c = '0'; c <= '9'; ++c) folded[c] = static_cast<char>(c);
    for (int c = 'a'; c <= 'z'; ++c) folded[c] = static_cast<char>(c);
    for (int c = 'A'; c <= 'Z'; ++c) folded[c] = static_cast<char>(c - 'A' + 'a');
  }
};
constexpr AsciiWordBytes kAscii;

}  // namespace

void ForEachWord(std::string_view text, const std::function<void(std::string_view, std::size_t, std::size_t)>& word) {
  std::string current;
  std::size_t begin = 0, end = 0;
  for (std::size_t i = 0; i < text.size();) {
    // Most page text is ASCII: a run of it is taken without decoding, byte by byte.
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      char folded = kAscii.folded[static_cast<unsigned char>(text[i])];
      if (folded != 0) {
        if (current.empty()) begin = i;
        for (; i < text.size() && static_cast<unsigned char>(text[i]) < 0x80; ++i) {
          folded = kAscii.folded[static_cast<unsigned char>(text[i])];
          if (folded == 0) break;
          current += folded;
        }
        end = i;
      } else {
        if (!current.empty()) {
          word(current, begin, end);
          current.clear();
        }
        ++i;
      }
      continue;
    }
    std::size_t length = 1;
    char32_t c = DecodeUtf8(text, i, &length);
    if (IsSurrogate(c)) c = kInvalidCodePoint;
    bool inWord = !current.empty();
    if (c != kInvalidCodePoint && IsCombining(c)) {
      if (inWord) end = i + length;
    } else if (c != kInvalidCodePoint && AppendFolded(c, text.substr(i, length), &current)) {
      if (!inWord) begin = i;
      end = i + length;
    } else if (inWord) {
      word(current, begin, end);
      current.clear();
    }
    i += length;
  }
  if (!current.empty()) word(current, begin, end);
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  ForEachWord(text, [&](std::string_view w, std::size_t, std::size_t) { words.emplace_back(w); });
  return words;
}

std::string NormalizedText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachWord(text, [&](std::string_view w, std::size_t, std::size_t) {
    if (!out.empty()) out += ' ';
    out += w;
  });
  return out;
}

std::vector<std::string> BlankSeparated(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  auto blank = [&](std::size_t k) { return text[k] == ' ' || (text[k] >= '\t' && text[k] <= '\r'); };
  while (i < text.size()) {
    while (i < text.size() && blank(i)) ++i;
    std::size_t start = i;
    while (i < text.size() && !blank(i)) ++i;
    if (i > start) {
      std::string word = Lower(text.substr(start, i - start));
      if (std::find(words.begin(), words.end(), word) == words.end()) words.push_back(std::move(word));
    }
  }
  return words;
}

}  // namespace quillet::services
