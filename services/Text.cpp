#include "services/Text.h"

#include "services/Limits.h"
#include "services/Query.h"
#include "services/Tokens.h"

namespace quillet::services {
namespace {

enum class Sequence { Good, Bad, Surrogate };

// Length of the UTF-8 sequence at text[i] and whether it is well-formed.
Sequence ReadSequence(std::string_view text, std::size_t i, std::size_t* length) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  *length = 1;
  if (lead < 0x80) return Sequence::Good;
  std::size_t need = lead >= 0xC2 && lead <= 0xDF   ? 2
                     : lead >= 0xE0 && lead <= 0xEF ? 3
                     : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                    : 0;
  if (need == 0) return Sequence::Bad;
  // The second byte's range rules out overlong forms, code points past U+10FFFF and
  // (for ED) the surrogates, which get a reason of their own.
  unsigned char low = 0x80, high = 0xBF;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  bool surrogate = lead == 0xED && i + 1 < text.size() && byte(i + 1) >= 0xA0 && byte(i + 1) <= 0xBF;
  for (std::size_t k = 1; k < need; ++k) {
    if (i + k >= text.size()) return Sequence::Bad;
    unsigned char c = byte(i + k);
    if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return Sequence::Bad;
    *length = k + 1;
  }
  return surrogate ? Sequence::Surrogate : Sequence::Good;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsWordByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c >= 0x80;
}

}  // namespace

std::string Utf8Problem(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    Sequence sequence = ReadSequence(text, i, &length);
    if (sequence == Sequence::Surrogate) return "lone UTF-16 surrogate";
    if (sequence == Sequence::Bad) return "invalid UTF-8";
    i += length;
  }
  return {};
}

bool HasControlBytes(std::string_view text) {
  for (char c : text)
    if (IsControl(static_cast<unsigned char>(c))) return true;
  return false;
}

std::string RepairText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t kept = 0;  // text before this is in out; what follows it up to i needs no repair
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      ++i;
      continue;
    }
    std::size_t length = 1;
    Sequence sequence = ReadSequence(text, i, &length);
    if (sequence == Sequence::Good && !(length == 1 && IsControl(c))) {
      i += length;
      continue;
    }
    out.append(text, kept, i - kept);
    out += sequence == Sequence::Good ? " " : "\xEF\xBF\xBD";
    i += length;
    kept = i;
  }
  out.append(text, kept, text.size() - kept);
  return out;
}

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
    if (IsControl(static_cast<unsigned char>(c))) return refuse("control character in term");
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

std::string ValidHost(std::string_view address) {
  if (!KeyProblem(address).empty()) return {};
  std::string host = NormalizeHost(address);
  if (host.empty() || host.size() > 253 || host.front() == '.' || host.find('.') == std::string::npos ||
      host.find("..") != std::string::npos)
    return {};
  for (char c : host) {
    unsigned char u = static_cast<unsigned char>(c);
    if (!IsWordByte(u) && c != '-' && c != '_' && c != '.') return {};
  }
  return host;
}

}  // namespace quillet::services
