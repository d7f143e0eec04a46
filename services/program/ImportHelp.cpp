#include "services/program/ImportHelp.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "services/import/Importers.h"

namespace quillet::services {
namespace {

// The section "Loading real data" of services/README.md, put here by services/CMakeLists.txt.
constexpr std::string_view kImportFormats =
#include "ImportFormats.inc"
    ;

// Columns a text takes on a console: one per character (UTF-8 continuation bytes take none).
std::size_t Columns(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// Inline marks dropped: code spans as their text (in quotes when they are punctuation alone, so
// that "separated by `,` or `;`" still shows what separates), bold marks, links as their text.
std::string Inline(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '`') {
      const std::size_t close = text.find('`', i + 1);
      if (close != std::string_view::npos) {
        const std::string_view code = text.substr(i + 1, close - i - 1);
        const bool words = std::any_of(code.begin(), code.end(), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c)) || (static_cast<unsigned char>(c) & 0x80);
        });
        out.append(words ? "" : "'").append(code).append(words ? "" : "'");
        i = close + 1;
        continue;
      }
    }
    if (text.substr(i, 2) == "**") {
      i += 2;
      continue;
    }
    if (text[i] == '[') {
      const std::size_t close = text.find("](", i);
      const std::size_t end = close == std::string_view::npos ? close : text.find(')', close);
      if (end != std::string_view::npos && text.substr(i, close - i).find('\n') == std::string_view::npos) {
        out.append(text.substr(i + 1, close - i - 1));
        i = end + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

// Words laid out in lines of at most width columns: the first line after first, the others
// after indent. A word longer than a line stands alone.
void Wrap(std::string_view text, const std::string& first, const std::string& indent, std::size_t width,
          std::string* out) {
  std::string line = first;
  bool empty = true;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = std::min(text.find(' ', from), text.size());
    const std::string_view word = text.substr(from, end - from);
    from = end + 1;
    if (word.empty()) continue;
    if (!empty && Columns(line) + 1 + Columns(word) > width) {
      out->append(line).append("\n");
      line = indent;
      empty = true;
    }
    line.append(empty ? "" : " ").append(word);
    empty = false;
  }
  out->append(line).append("\n");
}

std::vector<std::string> Cells(std::string_view row) {
  row = Trimmed(row);
  if (!row.empty() && row.front() == '|') row.remove_prefix(1);
  if (!row.empty() && row.back() == '|') row.remove_suffix(1);
  std::vector<std::string> cells;
  std::size_t from = 0;
  while (true) {
    // A '|' inside a code span is the cell's own.
    std::size_t end = from;
    bool code = false;
    while (end < row.size() && (code || row[end] != '|')) code = row[end++] == '`' ? !code : code;
    cells.push_back(Inline(Trimmed(row.substr(from, end - from))));
    if (end >= row.size()) return cells;
    from = end + 1;
  }
}

// A table as aligned columns when it fits the width, else row by row: the first cell as a
// line, the others under it as "Heading: cell".
void Table(const std::vector<std::string_view>& rows, std::size_t width, std::string* out) {
  std::vector<std::vector<std::string>> table;
  for (std::string_view row : rows)
    if (row.find("---") == std::string_view::npos) table.push_back(Cells(row));
  std::vector<std::size_t> widths;
  for (const auto& cells : table)
    for (std::size_t i = 0; i < cells.size(); ++i) {
      widths.resize(std::max(widths.size(), cells.size()), 0);
      widths[i] = std::max(widths[i], Columns(cells[i]));
    }
  std::size_t total = 0;
  for (std::size_t column : widths) total += column + 2;
  if (total <= width + 1) {
    for (const auto& cells : table) {
      std::string line;
      for (std::size_t i = 0; i < cells.size(); ++i)
        line += cells[i] + (i + 1 < cells.size() ? std::string(widths[i] - Columns(cells[i]) + 2, ' ') : "");
      out->append(line).append("\n");
    }
    return;
  }
  const std::vector<std::string>& headings = table.front();
  for (std::size_t r = 1; r < table.size(); ++r) {
    const std::vector<std::string>& cells = table[r];
    if (r > 1) out->append("\n");
    Wrap(cells.front(), "", "", width, out);
    for (std::size_t i = 1; i < cells.size(); ++i) {
      const std::string heading = i < headings.size() ? headings[i] + ": " : "";
      Wrap(cells[i], "    " + heading, "      ", width, out);
    }
  }
}

}  // namespace

std::string MarkdownAsText(std::string_view markdown, std::size_t columns) {
  const std::size_t width = columns - 1;  // a full line would wrap on its own in a console
  std::vector<std::string_view> lines;
  while (!markdown.empty()) {
    const std::size_t end = markdown.find('\n');
    lines.push_back(markdown.substr(0, end));
    markdown.remove_prefix(end == std::string_view::npos ? markdown.size() : end + 1);
  }
  std::string text;
  std::string paragraph, first, indent;
  auto flush = [&] {
    if (!paragraph.empty()) Wrap(Inline(paragraph), first, indent, width, &text);
    paragraph.clear();
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.substr(0, 3) == "```") {
      flush();
      for (++i; i < lines.size() && lines[i].substr(0, 3) != "```"; ++i)
        text.append("    ").append(lines[i]).append("\n");
      continue;
    }
    const std::string_view trimmed = Trimmed(line);
    if (trimmed.empty()) {
      flush();
      text.append("\n");
      continue;
    }
    const std::size_t marks = trimmed.find_first_not_of('#');
    if (marks > 0 && marks != std::string_view::npos && trimmed[marks] == ' ') {
      flush();
      const std::string heading = Inline(trimmed.substr(marks + 1));
      text.append(heading).append("\n").append(Columns(heading), marks <= 2 ? '=' : '-').append("\n");
      continue;
    }
    if (trimmed.front() == '|') {
      flush();
      std::vector<std::string_view> rows;
      for (; i < lines.size() && !Trimmed(lines[i]).empty() && Trimmed(lines[i]).front() == '|'; ++i)
        rows.push_back(lines[i]);
      --i;
      Table(rows, width, &text);
      continue;
    }
    // A list item starts a paragraph of its own, its lines under its text.
    std::size_t item = 0;
    if (trimmed.substr(0, 2) == "- ") {
      item = 2;
    } else {
      std::size_t digits = 0;
      while (digits < trimmed.size() && std::isdigit(static_cast<unsigned char>(trimmed[digits]))) ++digits;
      if (digits > 0 && trimmed.substr(digits, 2) == ". ") item = digits + 2;
    }
    if (item > 0) {
      flush();
      first = std::string(trimmed.substr(0, item));
      indent = std::string(item, ' ');
      paragraph = std::string(trimmed.substr(item));
      continue;
    }
    if (paragraph.empty()) first = indent = std::string(line.size() - Trimmed(line).size(), ' ');
    paragraph.append(paragraph.empty() ? "" : " ").append(trimmed);
  }
  flush();
  return text;
}

std::string ImportHelp() {
  std::string text =
      "quillet-services import KIND FILE... [--db FILE]\n"
      "  adds the data of each file to the database; it is read as the kind says:\n\n";
  for (const Importer& importer : Importers()) {
    text.append("  ").append(importer.kind);
    if (!importer.options.empty()) text.append(" ").append(importer.options);
    text.append("\n");
    Wrap(std::string(importer.help), "      ", "      ", kConsoleColumns - 1, &text);
  }
  text += "\n" + MarkdownAsText("## Loading real data\n" + std::string(kImportFormats));
  return text;
}

}  // namespace quillet::services
