#include <gtest/gtest.h>

#include "services/import/Json.h"

namespace quillet::services {
namespace {

TEST(ParsePageRecord, StrictJson) {
  struct Case {
    const char* line;
    bool ok;
  };
  const Case cases[] = {
      {R"({"url":"http://a.com","title":"t","text":"x","links":["a","b"]})", true},
      {R"(  {"links":[],"url":"u","extra":{"a":[true,false,null,-1.5E+3,"\"\\\/\b\f\n\r\t"]}}  )", true},
      {R"({})", true},
      {R"({"url":"u",})", false},
      {R"({"url":"u"} x)", false},
      {R"({"url":"u")", false},
      {R"({"url":5})", false},
      {R"({"links":["a",1]})", false},
      {R"({"links":"a"})", false},
      // Unpaired surrogates are decoded to their three-byte form, which the importer refuses.
      {R"({"url":"\ud800"})", true},
      {R"({"url":"\udc00x"})", true},
      {R"({"url":"\q"})", false},
      {"{\"url\":\"a\tb\"}", false},
      {R"({"x":01.})", false},
      {R"({"x":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]})",
       false},
      {"", false},
      {"[]", false},
  };
  for (const Case& c : cases) {
    PageRecord record;
    std::string error;
    EXPECT_EQ(ParsePageRecord(c.line, &record, &error), c.ok) << c.line << " " << error;
    EXPECT_EQ(error.empty(), c.ok) << c.line;
  }
  PageRecord record;
  ASSERT_TRUE(ParsePageRecord(R"({"url":"a\u00e9\ud83d\ude00","links":["x","y"],"url":"b"})", &record, nullptr));
  EXPECT_EQ(record.url, "b");
  EXPECT_EQ(record.links, (std::vector<std::string>{"x", "y"}));
  ASSERT_TRUE(ParsePageRecord(R"({"title":"a\u00e9\ud83d\ude00"})", &record, nullptr));
  EXPECT_EQ(record.title, "a\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(PickJson, ValuesByKeyPathInBoundedDepth) {
  const std::vector<std::vector<std::string_view>> paths = {
      {"a", "b"}, {"a", "list", "[]", "u"}, {"a", "list", "[]", "p"}, {"x"}};
  struct Case {
    std::string json;
    bool ok;
    std::vector<std::string> found;  // "path/element=value", "path/element" for other values
  };
  const std::string deep = std::string(limits::kMaxJsonDepth + 1, '[') + std::string(limits::kMaxJsonDepth + 1, ']');
  const std::vector<Case> cases = {
      {R"({"a":{"b":"one","list":[{"u":"u0","p":"p0"},{"p":"p1","skip":{"u":"no"}},{"u":"u2"}]},"x":[1,{"b":2}]})",
       true,
       {"0/0=one", "1/0=u0", "2/0=p0", "2/1=p1", "1/2=u2", "3/0"}},
      {R"({"z":{"a":{"b":"nested elsewhere"}},"a":{"b":null,"\u0062":"escaped key"}})",
       true,
       {"0/0", "0/0=escaped key"}},
      {R"({"a":{"b":"t\u00e9\n\"q\""}})", true, {"0/0=t\xC3\xA9\n\"q\""}},
      {R"({"a":{"list":"not an array","b":{"c":[true,false,null,-1.5e3]}}})", true, {"0/0"}},
      {"[" + deep + "]", false, {}},
      {R"({"a":{"b":"one"})", false, {"0/0=one"}},
      {R"({"a":{"b":"one"}} extra)", false, {"0/0=one"}},
      {R"({"a":{"b":"bad \q escape"}})", false, {}},
      {R"({"skipped":"bad \q escape"})", false, {}},
      {"{\"a\":{\"b\":\"control\x01\"}}", false, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> found;
    std::string error;
    bool ok = PickJson(
        c.json, paths,
        [&](std::size_t path, std::size_t element, const std::string* value) {
          found.push_back(std::to_string(path) + "/" + std::to_string(element) + (value ? "=" + *value : ""));
        },
        &error);
    EXPECT_EQ(ok, c.ok) << c.json << " " << error;
    EXPECT_EQ(error.empty(), c.ok) << c.json;
    EXPECT_EQ(found, c.found) << c.json;
  }
}

}  // namespace
}  // namespace quillet::services
