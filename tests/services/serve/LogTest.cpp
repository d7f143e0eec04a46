#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "services/serve/Log.h"

namespace quillet::services {
namespace {

std::string Written(std::FILE* file) {
  std::rewind(file);
  std::string text(1 << 16, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file));
  return text;
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A failing store under load must not flood the log: lines past the rate are counted and
// said in one line, routine refusals summed up.
TEST(Log, LinesAreBoundedInRateAndRefusalsSummedUp) {
  std::FILE* file = std::tmpfile();
  Log log(file, 5);
  for (int i = 0; i < 1000; ++i) log.Line("store failure " + std::to_string(i));
  for (int i = 0; i < 40; ++i) log.Count("malformed requests (400)");
  log.Count("requests answered 503 at once with the queue full");
  log.Summarize();
  log.Summarize();  // nothing new: no line
  std::string text = Written(file);
  std::fclose(file);
  size_t lines = Occurrences(text, "store failure ");
  // One second holds five; a run across a second's end, ten.
  EXPECT_GE(lines, 5u);
  EXPECT_LE(lines, 10u);
  EXPECT_EQ(Occurrences(text, "more log lines suppressed"), lines == 5 ? 1u : 2u) << text;
  EXPECT_NE(text.find(std::to_string(1000 - lines) + " more log lines suppressed"), std::string::npos) << text;
  EXPECT_EQ(Occurrences(text, "refused since the last summary"), 1u);
  EXPECT_NE(text.find("40 malformed requests (400); 1 requests answered 503 at once with the queue full"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.rfind("20", 0), 0u);  // every line starts with its time
  EXPECT_EQ(Occurrences(text, "\n20"), Occurrences(text, "\n") - 1);
}

}  // namespace
}  // namespace quillet::services
