#pragma once
// What `quillet-services help import` prints: the kinds of data of the importer table, each
// with its options and line of help, then the file formats as the section "Loading real data"
// of services/README.md describes them. That section is the one text of the formats: the
// build takes it from the README for this program and for the help file's page alike.
#include <string>
#include <string_view>

namespace quillet::services {

std::string ImportHelp();

// Markdown as plain text for a terminal: code fences dropped and the code indented, headings
// without their '#' marks and underlined, backticks dropped. Tables stay as they are written.
std::string MarkdownAsText(std::string_view markdown);

}  // namespace quillet::services
