#include "protocol/Lines.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace quillet::protocol {
namespace {

struct Kind {
  Event event;
  std::string_view name;
  std::size_t fields;
};

constexpr Kind kKinds[] = {
    {Event::kPlan, "plan", 3},       {Event::kFile, "file", 4},         {Event::kProgress, "progress", 6},
    {Event::kStored, "stored", 1},   {Event::kFailed, "failed", 2},     {Event::kNote, "note", 1},
    {Event::kDone, "done", 1},       {Event::kDatabase, "database", 2}, {Event::kCounts, "counts", 3},
    {Event::kService, "service", 1}, {Event::kUserData, "userdata", 1}, {Event::kKept, "kept", 2},
    {Event::kSource, "source", 6},
};

const Kind* KindOf(Event event) {
  for (const Kind& kind : kKinds)
    if (kind.event == event) return &kind;
  return nullptr;
}

}  // namespace

const std::string& Line::Text(std::size_t i) const {
  static const std::string kNone;
  return i < fields.size() ? fields[i] : kNone;
}

std::int64_t Line::Number(std::size_t i) const {
  const std::string& text = Text(i);
  const bool negative = !text.empty() && text[0] == '-';
  const std::size_t from = negative ? 1 : 0;
  if (text.size() == from) return -1;
  std::uint64_t value = 0;
  constexpr std::uint64_t kBound = std::numeric_limits<std::int64_t>::max();
  for (std::size_t at = from; at < text.size(); ++at) {
    const char c = text[at];
    if (c < '0' || c > '9') return -1;
    value = std::min(kBound, value * 10 + static_cast<std::uint64_t>(c - '0'));
  }
  const auto number = static_cast<std::int64_t>(value);
  return negative ? -number : number;
}

std::string_view EventName(Event event) {
  const Kind* kind = KindOf(event);
  return kind ? kind->name : std::string_view("unknown");
}

std::string Encode(Event event, std::initializer_list<std::string> fields) {
  const Kind* kind = KindOf(event);
  if (!kind || kind->fields != fields.size())
    throw std::logic_error("a " + std::string(EventName(event)) + " line takes " +
                           std::to_string(kind ? kind->fields : 0) + " fields, not " + std::to_string(fields.size()));
  std::string line(kind->name);
  for (const std::string& field : fields) {
    line += '\t';
    for (char c : field) line += c == '\t' || c == '\r' || c == '\n' ? ' ' : c;
  }
  return line;
}

Line Decode(std::string_view text) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  Line line;
  const std::size_t tab = text.find('\t');
  const std::string_view name = text.substr(0, tab);
  std::size_t from = tab == std::string_view::npos ? text.size() + 1 : tab + 1;
  while (from <= text.size()) {
    const std::size_t end = std::min(text.find('\t', from), text.size());
    line.fields.emplace_back(text.substr(from, end - from));
    from = end + 1;
  }
  for (const Kind& kind : kKinds)
    if (kind.name == name && line.fields.size() >= kind.fields) line.event = kind.event;
  return line;
}

}  // namespace quillet::protocol
