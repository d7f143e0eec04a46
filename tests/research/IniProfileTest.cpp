// The portable INI reading against the cases the platform's profile functions decide. Under
// Wine every case is also read through those functions (win::IniFile), so the expectations
// here are the platform's, not this code's.
#include "research/IniProfile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "research/IdeaList.h"

#ifdef _WIN32
#include "framework/IniFile.h"
#endif

namespace quillet {
namespace {

using Entries = std::vector<IdeaEntry>;

std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += {c, '\0'};
  return out;
}

// Runs check on the text read by IniProfile, and under Wine also by the platform.
void ForEachReader(const std::string& text, const std::function<void(const char* reader, const Entries&)>& check) {
  Entries portable;
  ReadIdeaList(IniProfile(text), [&](IdeaEntry&& e) { portable.push_back(std::move(e)); });
  check("IniProfile", portable);
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "quillet-ini-profile-test.qlc";
  std::ofstream(path, std::ios::binary) << text;
  bool readable = false;
  Entries fromFile;
  ReadIdeaList(IniProfile::FromFile(path.string(), &readable), [&](IdeaEntry&& e) { fromFile.push_back(e); });
  EXPECT_TRUE(readable);
  EXPECT_EQ(fromFile, portable);
#ifdef _WIN32
  Entries platform;
  ReadIdeaList(win::IniFile(path.string()), [&](IdeaEntry&& e) { platform.push_back(std::move(e)); });
  check("GetPrivateProfileStringA", platform);
#endif
  std::filesystem::remove(path);
}

TEST(IniProfile, ReadsIdeaListsAsThePlatformDoes) {
  const struct {
    const char* name;
    std::string text;
    Entries expected;
  } cases[] = {
      {"sections in any order",
       "[item2]\r\ncat=c\r\nprofit=3\r\n[item0]\r\ncat=a\r\nprofit=1\r\n[item1]\r\ncat=b\r\n",
       {{"a", "1"}, {"b", ""}, {"c", "3"}}},
      {"a missing section, a foreign one counting",
       "[item0]\r\ncat=a\r\n[notes]\r\n[item3]\r\n",
       {{"a", ""}, {"", ""}, {"", ""}}},
      {"names in any case", "[ITEM0]\r\nCat=a\r\nPROFIT=1\r\n", {{"a", "1"}}},
      {"blanks and quotes around values, ';' kept",
       "[item0]\r\ncat =  \" padded \"  \r\nprofit= 'q' \r\n[item1]\r\ncat=a;b=c\r\nprofit=\"x\r\n",
       {{" padded ", "q"}, {"a;b=c", "\"x"}}},
      {"one pair of matching quotes only",
       "[item0]\r\ncat=\"\"\r\nprofit='a\"\r\n[item1]\r\ncat=\"\r\nprofit=''''\r\n",
       {{"", "'a\""}, {"\"", "''"}}},
      {"CR, LF and blank lines", "[item0]\rcat=a\r\r\n\nprofit=1\n", {{"a", "1"}}},
      {"blanks around lines and names", "  [item0]  \r\n\t cat\t=\t a b \t\r\n", {{"a b", ""}}},
      {"blanks are tab to CR, 0x1A and the space",
       "[item0]\r\ncat=\x0B\x1A a\xA0\x0C\r\nprofit=\x1F"
       "1\x85\r\n",
       {{"a\xA0",
         "\x1F"
         "1\x85"}}},
      {"the first of duplicate sections and keys",
       "[item0]\r\ncat=a\r\ncat=b\r\n[ITEM0]\r\nprofit=2\r\n",
       {{"a", ""}, {"", ""}}},
      {"a key without '=' has no value", "[item0]\r\ncat\r\nprofit=\r\n", {{"", ""}}},
      {"keys above the first section belong to none", "cat=z\r\n[item0]\r\nprofit=1\r\n", {{"", "1"}}},
      {"a line without ']' is a key", "[item0\r\ncat=x\r\n", {}},
      {"the name runs to the last ']'", "[item0]x]\r\ncat=a\r\n[item1] note\r\ncat=b\r\n", {{"", ""}, {"b", ""}}},
      {"an empty name does not count", "[]\r\n[item0]\r\ncat=a\r\n", {{"a", ""}}},
      {"blanks inside the brackets are dropped", "[ item0\t]\r\ncat=a\r\n[item 1]\r\n", {{"a", ""}, {"", ""}}},
      {"a NUL ends the value", std::string("[item0]\r\ncat=ab\0cd\r\n", 20), {{"ab", ""}}},
      {"UTF-8 byte order mark", "\xEF\xBB\xBF[item0]\r\ncat=a\r\n", {{"a", ""}}},
      {"UTF-16 with byte order mark", Utf16Le("[item0]\r\ncat=a b\r\nprofit= 7 \r\n"), {{"a b", "7"}}},
      {"no sections", "cat=a\r\nprofit=1\r\n", {}},
      {"empty file", "", {}},
  };
  for (const auto& c : cases)
    ForEachReader(c.text, [&](const char* reader, const Entries& read) {
      EXPECT_EQ(read, c.expected) << c.name << ", read by " << reader;
    });
}

TEST(IniProfile, BuffersCutNamesAndValuesAsThePlatformDoes) {
  // Three names of 5 bytes each with their NULs; the list takes one more byte.
  const std::string text = "[aaaa]\r\n[bbbb]\r\nq=\"abcd\"\r\nu=abcdef\r\n[cccc]\r\n";
  const std::vector<std::string> all{"aaaa", "bbbb", "cccc"};
  const struct {
    std::size_t buffer;
    std::size_t names;
    bool truncated;
  } lists[] = {{64, 3, false}, {17, 3, true}, {16, 2, true}, {12, 2, true}, {8, 1, true}, {4, 0, true}, {2, 0, false}};
  const struct {
    const char* key;
    std::size_t buffer;
    const char* value;
  } values[] = {{"q", 7, "abcd"}, {"q", 6, "abcd"}, {"q", 5, "abc"}, {"q", 4, "abc"},
                {"u", 4, "abc"},  {"u", 1, ""},     {"x", 9, "dflt"}};

  const auto check = [&](const char* reader, const auto& file) {
    for (const auto& l : lists) {
      bool truncated = false;
      EXPECT_EQ(file.SectionNames(l.buffer, &truncated),
                std::vector<std::string>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(l.names)))
          << reader << " " << l.buffer;
      EXPECT_EQ(truncated, l.truncated) << reader << " " << l.buffer;
    }
    for (const auto& v : values)
      EXPECT_EQ(file.ReadString("bbbb", v.key, "dflt  ", v.buffer), v.value) << reader << " " << v.key << v.buffer;
  };
  check("IniProfile", IniProfile(text));
  EXPECT_EQ(IniProfile::FromFile("no such file.qlc").ReadString("a", "b", "'dflt'  ", 9), "dflt");
  bool readable = true;
  EXPECT_TRUE(
      IniProfile::FromFile(std::filesystem::temp_directory_path().string(), &readable).SectionNames(64).empty());
  EXPECT_FALSE(readable) << "a folder cannot be read";
#ifdef _WIN32
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "quillet-ini-buffers.ini";
  std::ofstream(path, std::ios::binary) << text;
  check("GetPrivateProfileStringA", win::IniFile(path.string()));
  EXPECT_EQ(win::IniFile("no such file.qlc").ReadString("a", "b", "'dflt'  ", 9), "dflt");
  std::filesystem::remove(path);
#endif
}

// The round trip of saved lists is tests/fuzz/FuzzIniProfile.cpp's.
TEST(IniProfile, HostileFilesStayCheap) {
  // 100,000 saved sections: the longer name list is read, each entry looked up by its name.
  std::string many;
  for (int k = 0; k < 100000; ++k) many += "[item" + std::to_string(k) + "]\r\ncat=c" + std::to_string(k) + "\r\n";
  const auto start = std::chrono::steady_clock::now();
  std::size_t count = 0;
  ReadIdeaList(IniProfile(many), [&](IdeaEntry&& e) { EXPECT_EQ(e.category, "c" + std::to_string(count++)); });
  EXPECT_GT(count, 13000u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace quillet
