#include "services/import/Json.h"

#include <cstdint>

#include "services/text/Utf8.h"

namespace quillet::services {
namespace {

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
        // A run of plain bytes in one go.
        size_t end = pos_ + 1;
        while (end < text_.size() && text_[end] != '"' && text_[end] != '\\' &&
               static_cast<unsigned char>(text_[end]) >= 0x20)
          ++end;
        out->append(text_.data() + pos_, end - pos_);
        pos_ = end;
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
          AppendUtf8(*out, code);
          break;
        }
        default: --pos_; return Fail("bad escape");
      }
    }
  }

  // Checks a string without decoding it.
  bool SkipString() {
    SkipSpace();
    if (Peek() != '"') return Fail("expected a string");
    ++pos_;
    while (pos_ < text_.size()) {
      unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return Fail("control character in string");
      if (c == '\\') {
        if (++pos_ >= text_.size()) break;
        char e = text_[pos_];
        if (e == 'u') {
          std::uint32_t code = 0;
          ++pos_;
          if (!Hex4(&code)) return false;
          continue;
        }
        if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
          --pos_;
          return Fail("bad escape");
        }
      }
      ++pos_;
    }
    return Fail("unterminated string");
  }

  // An object key: a view of its text, decoded into *scratch only when it holds escapes.
  bool Key(std::string_view* key, std::string* scratch) {
    SkipSpace();
    size_t start = pos_;
    if (!SkipString()) return false;
    std::string_view raw = text_.substr(start + 1, pos_ - start - 2);
    if (raw.find('\\') == std::string_view::npos) {
      *key = raw;
      return true;
    }
    pos_ = start;
    if (!String(scratch)) return false;
    *key = *scratch;
    return true;
  }

  // Skips any JSON value.
  bool Value(int depth) {
    if (depth > limits::kMaxJsonDepth) return Fail("nesting too deep");
    SkipSpace();
    char c = Peek();
    if (c == '"') return SkipString();
    if (c == '{') {
      ++pos_;
      if (Consume('}')) return true;
      do {
        if (!SkipString()) return false;
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

  // The value here, reached by depth keys along which the paths in active (a bit each) still
  // match: hands over what ends here, walks on for what goes deeper, skips the rest.
  bool Pick(const std::vector<std::vector<std::string_view>>& paths, const JsonFound& found, int depth,
            std::uint64_t active, std::size_t element) {
    if (active == 0) return Value(depth);
    if (depth > limits::kMaxJsonDepth) return Fail("nesting too deep");
    const size_t level = static_cast<size_t>(depth);
    std::uint64_t ending = 0, deeper = 0;
    for (size_t p = 0; p < paths.size(); ++p)
      if (active >> p & 1) (paths[p].size() == level ? ending : deeper) |= std::uint64_t{1} << p;
    SkipSpace();
    char c = Peek();
    if (ending != 0 && c == '"') {
      std::string value;
      if (!String(&value)) return false;
      for (size_t p = 0; p < paths.size(); ++p)
        if (ending >> p & 1) found(p, element, &value);
      return true;
    }
    for (size_t p = 0; p < paths.size(); ++p)
      if (ending >> p & 1) found(p, element, nullptr);
    if (deeper == 0) return Value(depth);
    auto matching = [&](std::string_view step) {
      std::uint64_t next = 0;
      for (size_t p = 0; p < paths.size(); ++p)
        if ((deeper >> p & 1) && paths[p][level] == step) next |= std::uint64_t{1} << p;
      return next;
    };
    if (c == '{') {
      ++pos_;
      if (Consume('}')) return true;
      std::string scratch;
      do {
        std::string_view key;
        if (!Key(&key, &scratch)) return false;
        if (!Consume(':')) return Fail("expected ':'");
        if (!Pick(paths, found, depth + 1, matching(key), element)) return false;
      } while (Consume(','));
      return Consume('}') || Fail("expected ',' or '}'");
    }
    if (c == '[') {
      ++pos_;
      if (Consume(']')) return true;
      std::uint64_t next = matching("[]");
      std::size_t index = 0;
      do {
        if (!Pick(paths, found, depth + 1, next, index++)) return false;
      } while (Consume(','));
      return Consume(']') || Fail("expected ',' or ']'");
    }
    return Value(depth);
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
        overflowed_ = true;
        return Fail("more than " + std::to_string(maxItems) + " links");
      }
      out->push_back(std::move(item));
    } while (Consume(','));
    return Consume(']') || Fail("expected ',' or ']'");
  }

  bool Overflowed() const { return overflowed_; }

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
      int v = (h >= '0' && h <= '9')   ? h - '0'
              : (h >= 'a' && h <= 'f') ? h - 'a' + 10
              : (h >= 'A' && h <= 'F') ? h - 'A' + 10
                                       : -1;
      if (v < 0) return Fail("bad \\u escape");
      *code = *code * 16 + static_cast<std::uint32_t>(v);
    }
    pos_ += 4;
    return true;
  }

  std::string_view text_;
  bool overflowed_ = false;  // an array held more items than allowed
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
  record->tooManyLinks = !ok && reader.Overflowed();
  return ok;
}

bool PickJson(std::string_view text, const std::vector<std::vector<std::string_view>>& paths, const JsonFound& found,
              std::string* error) {
  Reader reader(text);
  std::uint64_t all = paths.size() >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << paths.size()) - 1;
  bool ok = reader.Pick(paths, found, 0, all, 0) && (reader.AtEnd() || reader.Fail("text after the value"));
  if (!ok && error) *error = reader.Error();
  return ok;
}

}  // namespace quillet::services
