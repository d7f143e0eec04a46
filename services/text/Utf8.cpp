#include "services/text/Utf8.h"

namespace quillet::services {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::u16string Utf16FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    char32_t code = DecodeUtf8(text, i, &length);
    if (code == kInvalidCodePoint || IsSurrogate(code)) return {};
    if (code < 0x10000) {
      out += static_cast<char16_t>(code);
    } else {
      out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
    i += length;
  }
  return out;
}

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (IsSurrogate(code)) code = 0xFFFD;
    AppendUtf8(out, code);
  }
  return out;
}

std::string Utf8Problem(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    char32_t code = DecodeUtf8(text, i, &length);
    if (code == kInvalidCodePoint) return "invalid UTF-8";
    if (IsSurrogate(code)) return "lone UTF-16 surrogate";
    i += length;
  }
  return {};
}

bool HasControlCharacters(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    if (IsControlCharacter(DecodeUtf8(text, i, &length))) return true;
    i += length;
  }
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
    char32_t code = DecodeUtf8(text, i, &length);
    bool character = code != kInvalidCodePoint && !IsSurrogate(code);
    if (character && !IsControlCharacter(code)) {
      i += length;
      continue;
    }
    out.append(text, kept, i - kept);
    out += character ? std::string_view(" ") : kReplacement;
    i += length;
    kept = i;
  }
  out.append(text, kept, text.size() - kept);
  return out;
}

}  // namespace quillet::services
