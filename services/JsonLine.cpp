#include "services/JsonLine.h"

#include <cstdint>

namespace quillet::services {
namespace {

constexpr int kMaxDepth = 64;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = what + " at column " + std::to_string(pos_ + 1);
    return false;
  }
  const std::string& Error() const { return error_; }

  void SkipSpace() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' || text_[pos_] == '\n'))
      ++pos_;
  }
  bool AtEnd() {
    SkipSpace();
    return pos_ == text_.size();
  }
  char Peek() { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  bool Consume(char c) {
    SkipSpace();
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }

  bool String(std::string* out) {
    SkipSpace();
    if (Peek() != '"') return Fail("expected a string");
    ++pos_;
    out->clear();
    while (true) {
      if (pos_ >= text_.size()) return Fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return Fail("control character in string");
      if (c != '\\') {
        *out += static_cast<char>(c);
        ++pos_;
        continue;
      }
      ++pos_;
      if (pos_ >= text_.size()) return Fail("unterminated string");
      char e = text_[pos_++];
      switch (e) {
        case '"': *out += '"'; break;
        case '\\': *out += '\\'; break;
        case '/': *out += '/'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
          std::uint32_t code = 0;
          if (!Hex4(&code)) return false;
          if (code >= 0xD800 && code <= 0xDBFF && text_.substr(pos_, 2) == "\\u") {
            size_t at = pos_;
            std::uint32_t low = 0;
            pos_ += 2;
            if (!Hex4(&low)) return false;
            if (low >= 0xDC00 && low <= 0xDFFF) code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            else pos_ = at;  // not a pair: the next escape stands on its own
          }
          AppendUtf8(code, out);
          break;
        }
        default:
          --pos_;
          return Fail("bad escape");
      }
    }
  }

  // Skips any JSON value.
  bool Value(int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    SkipSpace();
    char c = Peek();
    std::string scratch;
    if (c == '"') return String(&scratch);
    if (c == '{') {
      ++pos_;
      if (Consume('}')) return true;
      do {
        if (!String(&scratch)) return false;
        if (!Consume(':')) return Fail("expected ':'");
        if (!Value(depth + 1)) return false;
      } while (Consume(','));
      return Consume('}') || Fail("expected ',' or '}'");
    }
    if (c == '[') {
      ++pos_;
      if (Consume(']')) return true;
      do {
        if (!Value(depth + 1)) return false;
      } while (Consume(','));
      return Consume(']') || Fail("expected ',' or ']'");
    }
    for (std::string_view word : {"true", "false", "null"}) {
      if (text_.substr(pos_, word.size()) == word) {
        pos_ += word.size();
        return true;
      }
    }
    return Number();
  }

  bool StringArray(std::vector<std::string>* out, size_t maxItems) {
    SkipSpace();
    if (Peek() != '[') return Fail("expected an array of strings");
    ++pos_;
    out->clear();
    if (Consume(']')) return true;
    do {
      std::string item;
      if (!String(&item)) return false;
      if (out->size() == maxItems) {
        out->clear();
        return Fail("more than " + std::to_string(maxItems) + " links");
      }
      out->push_back(std::move(item));
    } while (Consume(','));
    return Consume(']') || Fail("expected ',' or ']'");
  }

 private:
  bool Number() {
    size_t start = pos_;
    if (Peek() == '-') ++pos_;
    size_t digits = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
    if (pos_ == digits) {
      pos_ = start;
      return Fail("unexpected character");
    }
    if (Peek() == '.') {
      ++pos_;
      size_t fraction = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      if (pos_ == fraction) return Fail("bad number");
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      size_t exponent = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      if (pos_ == exponent) return Fail("bad number");
    }
    return true;
  }

  bool Hex4(std::uint32_t* code) {
    if (pos_ + 4 > text_.size()) return Fail("bad \\u escape");
    *code = 0;
    for (int i = 0; i < 4; ++i) {
      char h = text_[pos_ + i];
      int v = (h >= '0' && h <= '9') ? h - '0' : (h >= 'a' && h <= 'f') ? h - 'a' + 10 : (h >= 'A' && h <= 'F') ? h - 'A' + 10 : -1;
      if (v < 0) return Fail("bad \\u escape");
      *code = *code * 16 + static_cast<std::uint32_t>(v);
    }
    pos_ += 4;
    return true;
  }

  static void AppendUtf8(std::uint32_t code, std::string* out) {
    if (code < 0x80) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xC0 | (code >> 6));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      *out += static_cast<char>(0xE0 | (code >> 12));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (code >> 18));
      *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

bool ParsePageRecord(std::string_view line, PageRecord* record, std::string* error, size_t maxLinks) {
  Reader reader(line);
  *record = PageRecord();
  bool ok = [&] {
    if (!reader.Consume('{')) return reader.Fail("expected '{'");
    if (reader.Consume('}')) return true;
    do {
      std::string key;
      if (!reader.String(&key)) return false;
      if (!reader.Consume(':')) return reader.Fail("expected ':'");
      bool good = key == "url"     ? reader.String(&record->url)
                  : key == "title" ? reader.String(&record->title)
                  : key == "text"  ? reader.String(&record->text)
                  : key == "links" ? reader.StringArray(&record->links, maxLinks)
                                   : reader.Value(1);
      if (!good) return false;
    } while (reader.Consume(','));
    if (!reader.Consume('}')) return reader.Fail("expected ',' or '}'");
    return reader.AtEnd() || reader.Fail("text after the object");
  }();
  if (!ok && error) *error = reader.Error();
  return ok;
}

}  // namespace quillet::services
