#pragma once
// How page text and search phrases are split into words: the one definition every store uses,
// so that they all count the same pages for the same phrase. A word is a run of letters and
// digits (ASCII, and every other code point that is not punctuation, a symbol or a space);
// it is kept case folded (Unicode simple case folding, in every script) with accents dropped
// in the Latin, Greek and Cyrillic scripts ("Café" and "cafe" are one word, "dog-training"
// two). Ill-formed UTF-8 separates words.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::services {

// Unicode simple case folding of one code point (its lower case for nearly every letter:
// "É" to "é", "Σ" and "ς" to "σ"), and of a text, whose accents and punctuation stay. The
// splitter folds words with the same table; terms and hosts are kept in this form.
// Ill-formed UTF-8 is left as it is.
char32_t FoldCodePoint(char32_t c);
std::string FoldCase(std::string_view text);

// The non-ASCII code points FoldCodePoint changes, and those the splitter writes otherwise
// than they are, in order: keys and words kept under earlier, narrower rules hold them.
std::vector<char32_t> CaseFoldedCodePoints();
std::vector<char32_t> WordFoldedCodePoints();

// Calls word(folded, begin, end) for each word, with its byte range in the text, in order.
void ForEachWord(std::string_view text, const std::function<void(std::string_view, std::size_t, std::size_t)>& word);

// The folded words of the text, in order (repeats kept).
std::vector<std::string> Words(std::string_view text);

// The folded words joined by single blanks: the form in which stores without this splitter
// keep text, so that a phrase is a plain substring search bounded by blanks.
std::string NormalizedText(std::string_view text);

// Not the index's words: the pieces of text between blanks (space, tab, line ends),
// lower-cased, each kept once, in order of first appearance.
std::vector<std::string> BlankSeparated(std::string_view text);

}  // namespace quillet::services
