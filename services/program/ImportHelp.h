#pragma once
// What `quillet-services help import` prints: the kinds of data of the importer table, each
// with its options and line of help, then the file formats as the section "Loading real data"
// of services/README.md describes them. That section is the one text of the formats: the
// build takes it from the README for this program and for the help file's page alike.
#include <cstddef>
#include <string>
#include <string_view>

namespace quillet::services {

// The width of a console window as Windows opens it.
constexpr std::size_t kConsoleColumns = 80;

std::string ImportHelp();

// Markdown as plain text for a console of that many columns: paragraphs and list items laid
// out in lines that fit, code fences dropped and the code indented as it is, headings without
// their '#' marks and underlined, inline marks dropped (code spans of punctuation alone in
// quotes), tables as aligned columns, or row by row when they do not fit.
std::string MarkdownAsText(std::string_view markdown, std::size_t columns = kConsoleColumns);

}  // namespace quillet::services
