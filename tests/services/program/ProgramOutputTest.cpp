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
      EXPECT_NE(text.find(std::string(importer.help)), std::string::npos) << importer.kind;
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
  EXPECT_EQ(
      MarkdownAsText("### Pages (`import pages`)\n\nJSON Lines, `url` first:\n\n```\n{\"url\": \"x\"}\n```\n"
                     "| a | b |\n"),
      "Pages (import pages)\n--------------------\n\nJSON Lines, url first:\n\n    {\"url\": \"x\"}\n| a | b |\n");
}

}  // namespace
}  // namespace quillet::services
