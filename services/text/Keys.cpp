#include "services/text/Keys.h"

#include "services/Limits.h"
#include "services/text/Utf8.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

std::string KeyProblem(std::string_view text) {
  std::string problem = Utf8Problem(text);
  if (problem.empty() && HasControlCharacters(text)) problem = "control character";
  return problem;
}

std::optional<std::string> NormalizeTerm(std::string_view text, std::string* why) {
  auto refuse = [why](std::string reason) {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  if (std::string problem = KeyProblem(text); !problem.empty()) return refuse(problem + " in term");
  std::string term;
  bool pendingSpace = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    // What the program's request cannot carry becomes a blank, which separates words as the
    // character did, so the term's phrase stays the same: its fetch ends the address at a
    // '#', and the service reads a '%' before two hex digits as an escape.
    bool unsendable =
        c == '#' || (c == '%' && i + 2 < text.size() && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2]));
    if (c == ' ' || c == '\t' || unsendable) {
      pendingSpace = !term.empty();
      continue;
    }
    if (c == '<' || c == '>' || c == ';')
      return refuse(std::string("term holds '") + c + "', which the suggestion page cannot carry");
    if (pendingSpace) term += ' ';
    pendingSpace = false;
    term += c;
  }
  term = FoldCase(term);
  if (term.empty()) return refuse("empty term");
  if (term.size() > limits::kMaxTermLength)
    return refuse("term longer than " + std::to_string(limits::kMaxTermLength) + " bytes");
  if (Words(term).size() > limits::kMaxWords)
    return refuse("term of more than " + std::to_string(limits::kMaxWords) + " words");
  return term;
}

}  // namespace quillet::services
