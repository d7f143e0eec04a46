#include "services/text/Keys.h"

#include "services/Limits.h"
#include "services/text/Utf8.h"
#include "services/text/Words.h"

namespace quillet::services {

std::string KeyProblem(std::string_view text) {
  std::string problem = Utf8Problem(text);
  if (problem.empty() && HasControlBytes(text)) problem = "control character";
  return problem;
}

std::optional<std::string> NormalizeTerm(std::string_view text, std::string* why) {
  auto refuse = [why](std::string reason) {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  if (std::string problem = Utf8Problem(text); !problem.empty()) return refuse(problem + " in term");
  std::string term;
  bool pendingSpace = false;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      pendingSpace = !term.empty();
      continue;
    }
    if (HasControlBytes(std::string_view(&c, 1))) return refuse("control character in term");
    if (c == '<' || c == '>' || c == ';')
      return refuse(std::string("term holds '") + c + "', which the suggestion page cannot carry");
    if (pendingSpace) term += ' ';
    pendingSpace = false;
    term += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (term.empty()) return refuse("empty term");
  if (term.size() > limits::kMaxTermLength)
    return refuse("term longer than " + std::to_string(limits::kMaxTermLength) + " bytes");
  if (Words(term).size() > limits::kMaxWords)
    return refuse("term of more than " + std::to_string(limits::kMaxWords) + " words");
  return term;
}

}  // namespace quillet::services
