// What the program prints for a person or a program reading it: the demo build's progress as
// one line per step when it goes to a file or a pipe (the installer shows the lines and the
// hidden starter logs them), and the file formats of `help import`, from the README.
#include <gtest/gtest.h>

#include <sstream>

#include "services/import/Importers.h"
#include "services/program/ImportHelp.h"
#include "tests/services/support/Child.h"
#include "tests/services/support/Fixtures.h"

namespace quillet::services {
namespace {

using testing::Child;
using testing::ScratchDir;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ProgramOutput, DemoProgressIsOneLinePerStepOutsideATerminal) {
  ScratchDir dir;
  Child demo({"demo", "--db", dir.File("demo.db"), "--pages", "30000", "--hosts", "300"},
             {0, dir.File("out.txt"), dir.File("progress.txt")});
  ASSERT_EQ(demo.Wait(), 0);
  const std::string progress = testing::ReadFile(dir.File("progress.txt"));
  EXPECT_EQ(progress.find('\r'), std::string::npos) << "a line drawn over itself";
  EXPECT_EQ(Lines(progress),
            (std::vector<std::string>{"building the demo data set: 30000 pages on 300 hosts", "pages 10000 of 30000",
                                      "pages 20000 of 30000", "pages 30000 of 30000",
                                      "writing traffic ranks and the search index"}));
  const std::string summary = testing::ReadFile(dir.File("out.txt"));
  EXPECT_NE(summary.find(" 30000 pages, "), std::string::npos) << summary;
}

TEST(ProgramOutput, HelpImportListsEveryKindAndTheFormatsOfTheReadme) {
  ScratchDir dir;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"help", "import"}, {"import", "--help"}}) {
    Child help(args, {0, dir.File("help.txt"), dir.File("errors.txt")});
    ASSERT_EQ(help.Wait(), 0);
    const std::string text = testing::ReadFile(dir.File("help.txt"));
    EXPECT_EQ(text, ImportHelp());
    for (const Importer& importer : Importers()) {
      EXPECT_NE(text.find("  " + std::string(importer.kind)), std::string::npos) << importer.kind;
      // Laid out for the console: its words in order, over one line or more.
      std::string joined = text;
      for (std::size_t at; (at = joined.find("\n      ")) != std::string::npos;) joined.replace(at, 7, " ");
      EXPECT_NE(joined.find(std::string(importer.help)), std::string::npos) << importer.kind;
    }
    // The README's section, each of its formats under its heading.
    for (const char* heading : {"Search volumes (import keywords)\n-----", "Pages (import pages)\n-----",
                                "Search-console exports (import gsc)\n-----", "Import limits\n-----"})
      EXPECT_NE(text.find(heading), std::string::npos) << heading;
  }
  Child usage({"--help"}, {0, dir.File("usage.txt"), dir.File("errors.txt")});
  EXPECT_EQ(usage.Wait(), 0);
  EXPECT_NE(testing::ReadFile(dir.File("usage.txt")).find("quillet-services help import"), std::string::npos);
}

TEST(ProgramOutput, MarkdownBecomesPlainText) {
  EXPECT_EQ(MarkdownAsText("### Pages (`import pages`)\n\nJSON Lines, `url` first:\n\n```\n{\"url\": \"x\"}\n```\n"
                           "| a | b |\n|---|---|\n| one | two |\n"),
            "Pages (import pages)\n--------------------\n\nJSON Lines, url first:\n\n    {\"url\": \"x\"}\na    b\none "
            " two\n");
}

// In a console of 80 columns: nothing wider than a line but code, paragraphs not cut inside a
// word, no Markdown marks, punctuation in quotes, tables aligned or laid out row by row.
TEST(ProgramOutput, HelpImportFitsAConsole) {
  struct Case {
    const char* name;
    std::string markdown;
    std::string text;
  };
  const std::string longWords(30, 'w');
  const Case cases[] = {
      {"a paragraph over several lines",
       "A CSV file separated by `,`, `;` (as spreadsheets save it in much of Europe) or tabs, in UTF-8 or in\nUTF-16 "
       "with a **byte order mark**, see [the help](help.md#x).\n",
       "A CSV file separated by ',', ';' (as spreadsheets save it in much of Europe) or\ntabs, in UTF-8 or in UTF-16 "
       "with a byte order mark, see the help.\n"},
      {"a list item's lines under its text",
       "1. Get files: the WAT and WET files of one or more segments of a recent crawl, the domain rank list\n   of the "
       "release.\n- one\n",
       "1. Get files: the WAT and WET files of one or more segments of a recent crawl,\n   the domain rank list of "
       "the release.\n- one\n"},
      {"a word longer than a line stands alone", std::string(90, 'x') + " y\n", std::string(90, 'x') + "\ny\n"},
      {"a table too wide for aligned columns",
       "| Limit | Value |\n|---|---|\n| " + longWords + " " + longWords + " " + longWords + " | `64 KiB` |\n",
       longWords + " " + longWords + "\n" + longWords + "\n    Value: 64 KiB\n"},
      {"a code span with a bar in a cell", "| a | b |\n|---|---|\n| `x | y` | z |\n", "a      b\nx | y  z\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(MarkdownAsText(c.markdown), c.text) << c.name;
  std::istringstream help(ImportHelp());
  bool code = false;
  for (std::string line; std::getline(help, line);) {
    code = line.rfind("    ", 0) == 0 && line.find_first_not_of(' ') >= 4 && line.find("Value:") == std::string::npos;
    std::size_t columns = 0;
    for (char c : line) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (!code) {
      EXPECT_LT(columns, 80u) << line;
    }
    EXPECT_EQ(line.find("**"), std::string::npos) << line;
    EXPECT_EQ(line.find("|---"), std::string::npos) << line;
    EXPECT_EQ(line.find(",, "), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace quillet::services
