#include "research/IniProfile.h"

#include <cstdio>

namespace quillet {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == ' '; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A NUL ends the name or value it is in.
std::string UpToNul(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

char LowerAsciiChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAsciiChar(c);
  return out;
}

bool SameFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAsciiChar(a[i]) != LowerAsciiChar(b[i])) return false;
  return true;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 (behind its byte order mark) as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](std::size_t i) {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace

IniProfile IniProfile::FromFile(const std::string& path, bool* readable) {
  std::string bytes;
  bool ok = false;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[65536];
    while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, file)) bytes.append(chunk, n);
    ok = !std::ferror(file);  // also a folder, which opens but cannot be read
    std::fclose(file);
  }
  if (readable) *readable = ok;
  return IniProfile(ok ? bytes : std::string());
}

IniProfile::IniProfile(std::string_view text) {
  std::string converted;
  if (text.substr(0, 3) == kUtf8Mark) {
    text.remove_prefix(3);
  } else if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") {
    converted = Utf16ToUtf8(text.substr(2), text[0] == '\xFE');
    text = converted;
  }
  sections_.emplace_back();
  Section* section = &sections_.back();
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(at, end - at));
    at = text.find_first_not_of("\r\n", end);
    if (at == std::string_view::npos) at = text.size();
    if (line.empty()) continue;

    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        sections_.push_back({UpToNul(Trim(line.substr(1, close - 1))), {}});
        section = &sections_.back();
        firstByName_.emplace(Folded(section->name), sections_.size() - 1);
        continue;
      }
    }
    Key key;
    const std::size_t equals = line.find('=');
    key.name = UpToNul(Trim(line.substr(0, equals)));
    if (equals != std::string_view::npos) {
      key.value = UpToNul(Trim(line.substr(equals + 1)));
      key.hasValue = true;
    }
    section->keys.push_back(std::move(key));
  }
}

std::vector<std::string> IniProfile::SectionNames(std::size_t bufferSize, bool* truncated) const {
  std::vector<std::string> names;
  if (truncated) *truncated = false;
  if (bufferSize < 3) return names;
  // Each name takes its length and a NUL, and the list ends with one more NUL: a name is
  // listed only when a further byte would still fit behind it.
  std::size_t used = 0;
  bool cut = false;
  for (std::size_t i = 1; i < sections_.size(); ++i) {
    const std::string& name = sections_[i].name;
    if (name.empty()) continue;
    if (used + name.size() + 2 >= bufferSize) {
      cut = true;
      break;
    }
    names.push_back(name);
    used += name.size() + 1;
  }
  if (truncated) *truncated = cut || used == bufferSize - 2;
  return names;
}

std::string IniProfile::ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                                   std::size_t bufferSize) const {
  std::string_view given = fallback;
  while (!given.empty() && given.back() == ' ') given.remove_suffix(1);
  if (bufferSize == 0) return fallback;

  std::string_view value = given;
  const std::string wantedSection = Folded(Trim(section));
  std::size_t found = 0;  // an empty name means the keys above every section line
  if (!wantedSection.empty()) {
    const auto it = firstByName_.find(wantedSection);
    found = it == firstByName_.end() ? sections_.size() : it->second;
  }
  if (found < sections_.size()) {
    const std::string_view wantedKey = Trim(key);
    for (const Key& k : sections_[found].keys) {
      if (!SameFolded(k.name, wantedKey)) continue;
      if (k.hasValue) value = k.value;
      break;
    }
  }

  // One pair of matching quotes is dropped (from the fallback too); when the buffer cuts the closing quote off, the
  // character before it goes instead.
  const bool quoted = value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
  if (quoted) value.remove_prefix(1);
  std::string out(value.substr(0, bufferSize - 1));
  if (quoted && bufferSize >= value.size() && !out.empty()) out.pop_back();
  return out;
}

}  // namespace quillet
