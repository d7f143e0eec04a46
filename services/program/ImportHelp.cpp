#include "services/program/ImportHelp.h"

#include "services/import/Importers.h"

namespace quillet::services {
namespace {

// The section "Loading real data" of services/README.md, put here by services/CMakeLists.txt.
constexpr std::string_view kImportFormats =
#include "ImportFormats.inc"
    ;

}  // namespace

std::string MarkdownAsText(std::string_view markdown) {
  std::string text;
  bool code = false;
  while (!markdown.empty()) {
    const std::size_t end = markdown.find('\n');
    std::string_view line = markdown.substr(0, end);
    markdown.remove_prefix(end == std::string_view::npos ? markdown.size() : end + 1);
    if (line.substr(0, 3) == "```") {
      code = !code;
      continue;
    }
    if (code) {
      text.append("    ").append(line).append("\n");
      continue;
    }
    std::string plain;
    for (char c : line)
      if (c != '`') plain += c;
    const std::size_t marks = plain.find_first_not_of('#');
    if (marks > 0 && marks != std::string::npos && plain[marks] == ' ') {
      plain.erase(0, marks + 1);
      text.append(plain).append("\n").append(plain.size(), marks <= 2 ? '=' : '-').append("\n");
    } else {
      text.append(plain).append("\n");
    }
  }
  return text;
}

std::string ImportHelp() {
  std::string text =
      "quillet-services import KIND FILE... [--db FILE]\n"
      "  adds the data of each file to the database; it is read as the kind says:\n\n";
  for (const Importer& importer : Importers()) {
    text.append("  ").append(importer.kind);
    if (!importer.options.empty()) text.append(" ").append(importer.options);
    text.append("\n      ").append(importer.help).append("\n");
  }
  text += "\n" + MarkdownAsText("## Loading real data\n" + std::string(kImportFormats));
  return text;
}

}  // namespace quillet::services
