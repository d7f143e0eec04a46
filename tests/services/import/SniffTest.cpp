// Telling a file's kind from its first lines, as "Import files..." and `import auto` do, for
// every kind in each of its usual forms.
#include <gtest/gtest.h>


#include "services/import/Sniff.h"
#include "tests/services/support/Fixtures.h"
#include "tests/services/support/MemorySource.h"

namespace quillet::services {
namespace {

std::string KindOf(const std::string& bytes) {
  InputFile input = testing::MemoryInput(bytes);
  return KindOfContent(input);
}

std::string Warc(const std::string& type, const std::string& block) {
  return "WARC/1.0\r\nWARC-Type: " + type + "\r\nContent-Length: " + std::to_string(block.size()) + "\r\n\r\n" + block +
         "\r\n\r\n";
}

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

TEST(Sniff, EveryKindInItsUsualForms) {
  const std::string info = Warc("warcinfo", "software: crawler\r\nformat: WARC\r\n");
  struct Case {
    const char* name;
    std::string bytes;
    std::string kind;
  };
  const Case cases[] = {
      {"crawl text", info + Warc("conversion", "Dog training at home"), "wet"},
      {"crawl text, gzip members", testing::Gzip(info) + testing::Gzip(Warc("conversion", "x")), "wet"},
      {"crawl metadata", info + Warc("metadata", R"({"Envelope":{}})"), "wat"},
      {"pages",
       R"({"url": "http://example.com/", "title": "Example"})"
       "\n",
       "pages"},
      {"rank list", "#harmonicc_pos\t#harmonicc_val\t#pr_pos\t#pr_val\t#host_rev\n1\t2\t3\t4\tcom.example\n",
       "hostranks"},
      {"search console", "\xEF\xBB\xBFTop queries,Clicks,Impressions,CTR,Position\ndog,1,20,5%,3\n", "gsc"},
      {"keyword export, UTF-16, report titles first",
       Utf16("Keyword Stats 2024-01-01\r\nAll locations\r\n\r\nKeyword\tCurrency\tAvg. monthly searches\r\n"
             "dog training\tUSD\t12,100\r\n"),
       "keywords"},
      {"keywords, plain", "dog training,12100\ndog collars,880\n", "keywords"},
      {"keywords, tabs", "dog training\t12100\n", "keywords"},
      {"traffic ranks, header", "rank,domain\n1,example.com\n", "ranks"},
      {"traffic ranks", "1,example.com\n2,example.org\n", "ranks"},
      {"pageviews", "en Main_Page 4213 0\nde Hund 12 0\n", "pageviews"},
      {"pageviews, gzip", testing::Gzip("en.m Dog_training 3 0\n"), "pageviews"},
      {"prose", "Dear customer, thank you for your order.\n", ""},
      {"an archive without records", info, ""},
      {"empty", "", ""},
      {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(KindOf(c.bytes), c.kind) << c.name;
}

}  // namespace
}  // namespace quillet::services
