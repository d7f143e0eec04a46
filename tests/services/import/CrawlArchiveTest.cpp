// Web-crawl archives as a crawl publishes them (plain text and metadata, WARC records, gzip
// members), written here in that form, imported, and read back through the service with the
// program's own page readers.
#include <gtest/gtest.h>

#include "tests/services/support/Fixtures.h"
#include "tests/services/support/ProgramRules.h"
#include "services/import/Importers.h"

namespace quillet::services {
namespace {

using testing::Gzip;
using testing::ImportFile;
using testing::ReadLinkCount;
using testing::ReadResultHosts;
using testing::ResearchRows;
using testing::ScratchDir;

// One record as a crawler writes it; lengthError is added to the stated Content-Length.
std::string Record(const std::string& type, const std::string& uri, const std::string& block,
                   const std::string& eol = "\r\n", long lengthError = 0) {
  std::string header = "WARC/1.0" + eol + "WARC-Type: " + type + eol;
  if (!uri.empty()) header += "WARC-Target-URI: " + uri + eol;
  header += "WARC-Date: 2024-05-18T01:58:10Z" + eol +
            "WARC-Record-ID: <urn:uuid:0b1e2f3a-aaaa-4bbb-8ccc-0123456789ab>" + eol +
            "Content-Type: " + (type == "metadata" ? "application/json" : "text/plain") + eol +
            "Content-Length: " + std::to_string(static_cast<long>(block.size()) + lengthError) + eol + eol;
  return header + block + eol + eol;
}

std::string Warcinfo(const std::string& eol = "\r\n") {
  return Record("warcinfo", "", "isPartOf: sample-crawl" + eol + "operator: tests" + eol, eol);
}

// A page's text as the plain-text archive holds it: lines of visible text.
std::string PageText(int n) {
  return "Sample page " + std::to_string(n) + " about dog training\nIt has a second line, caf\xC3\xA9 included.\n";
}

std::string WetPage(int n, const std::string& eol = "\r\n", long lengthError = 0) {
  return Record("conversion", "http://www.r" + std::to_string(n) + ".com/page", PageText(n), eol, lengthError);
}

// The bytes cut into pieces of the given size, each its own gzip member.
std::string GzipPieces(const std::string& bytes, size_t size) {
  std::string out;
  for (size_t at = 0; at < bytes.size(); at += size) out += Gzip(bytes.substr(at, size));
  return out;
}

// The hosts of the stored pages with the shared phrase, in the order they were stored.
std::vector<std::string> StoredHosts(const std::string& db) {
  SqliteReader store(db);
  Service service(store);
  return ReadResultHosts(service.Respond("/search", "p=%22dog+training%22&n=100&b=1").body);
}

TEST(ImportWet, EveryPackingAndEveryDamage) {
  const std::string plain = Warcinfo() + WetPage(1) + WetPage(2) + WetPage(3);
  const std::vector<std::string> all = {"www.r1.com", "www.r2.com", "www.r3.com"};
  const std::vector<std::string> firstAndLast = {"www.r1.com", "www.r3.com"};
  std::string truncated = WetPage(1) + WetPage(2) + WetPage(3);
  truncated.resize(truncated.size() - 40);
  const std::string packedLast = Gzip(WetPage(3));
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> hosts;
    std::map<std::string, std::int64_t> skipped;
    bool damaged = false;
  };
  const std::vector<Case> cases = {
      {"CR LF, plain", plain, all, {}},
      {"LF line ends", Warcinfo("\n") + WetPage(1, "\n") + WetPage(2, "\n") + WetPage(3, "\n"), all, {}},
      {"gzip members that split records anywhere", GzipPieces(plain, 7), all, {}},
      {"one member per record", Gzip(Warcinfo()) + Gzip(WetPage(1)) + Gzip(WetPage(2)) + Gzip(WetPage(3)), all, {}},
      {"a length that runs into the next record",
       WetPage(1) + WetPage(2, "\r\n", 40) + WetPage(3),
       firstAndLast,
       {{"Content-Length runs past the end of the record", 1}}},
      {"a length that falls short",
       WetPage(1) + WetPage(2, "\r\n", -12) + WetPage(3),
       firstAndLast,
       {{"Content-Length falls short of the end of the record", 1}}},
      {"a file cut short in a record",
       truncated,
       {"www.r1.com", "www.r2.com"},
       {{"record cut short by the end of the file", 1}}},
      {"a compressed file cut short",
       Gzip(WetPage(1)) + Gzip(WetPage(2)) + packedLast.substr(0, packedLast.size() / 2),
       {"www.r1.com", "www.r2.com"},
       {{"record cut short by the end of the file", 1}},
       true},
      {"text before a record, no length, a bad length",
       "stray text\n" + WetPage(1) +
           "WARC/1.0\r\nWARC-Type: conversion\r\nWARC-Target-URI: http://x.com/\r\n\r\nbody\r\n\r\n" +
           "WARC/1.0\r\nWARC-Type: conversion\r\nContent-Length: 12x\r\n\r\n" + WetPage(3),
       firstAndLast,
       {{"text outside a record, before it", 1}, {"no valid Content-Length", 2}}},
      {"repeats and unusable addresses",
       WetPage(1) + WetPage(1) + Record("conversion", "ftp://r2.com/", PageText(2)) +
           Record("conversion", "<http://www.r3.com/page>", PageText(3)) +
           Record("response", "http://r4.com/", "HTTP/1.1 200 OK"),
       firstAndLast,
       {{"address already stored", 1}, {"url not http:// or https://", 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    ImportReport report = ImportFile("wet", dir.File("w.db"), dir.Write("in.warc.wet.gz", c.bytes));
    EXPECT_EQ(StoredHosts(dir.File("w.db")), c.hosts);
    EXPECT_EQ(report.skipped, c.skipped);
    EXPECT_EQ(report.added, static_cast<std::int64_t>(c.hosts.size()));
    EXPECT_EQ(report.damage.empty(), !c.damaged) << report.damage;
  }
}

// One metadata record's JSON as a crawl writes it, with the parts a reader must skip.
std::string WatJson(const std::string& type, const std::string& uri, const std::string& htmlMetadata) {
  std::string json =
      R"({"Container":{"Filename":"x.warc.gz","Compressed":true,"Offsets":[1,2,{"a":[[]]}]},"Envelope":{"Format":"WARC",)"
      R"("WARC-Header-Length":"612","WARC-Header-Metadata":{"WARC-Type":")" +
      type + "\"";
  if (!uri.empty()) json += R"(,"WARC-Target-URI":")" + uri + "\"";
  json +=
      R"(,"WARC-Date":"2024-05-18T01:58:10Z"},"Payload-Metadata":{"Actual-Content-Type":"application/http; msgtype=response",)"
      R"("HTTP-Response-Metadata":{"Response-Message":{"Status":"200","Reason":"OK"},"Headers":{"Content-Type":"text/html"})";
  if (!htmlMetadata.empty()) json += R"(,"HTML-Metadata":)" + htmlMetadata;
  return json + R"(,"Entity-Length":"1234"}}}})";
}

std::string Wat(const std::string& type, const std::string& uri, const std::string& htmlMetadata) {
  return Record("metadata", uri, WatJson(type, uri, htmlMetadata));
}

// Stores keywords, so that the program's research asks the service for their counts.
void PutKeywords(const std::string& db, const std::vector<std::string>& terms) {
  SqliteWriter writer(db);
  for (const std::string& term : terms) writer.PutKeyword(term, 100);
  writer.Commit();
}

TEST(ImportWat, TitlesAndLinksOfStoredAndNewPages) {
  const std::string page1 =
      R"({"Head":{"Title":"Dog Training Guide","Metas":[{"name":"x","content":"y"}],"Link":[{"path":"LINK@/href","url":"/style.css"}]},)"
      R"("Links":[{"path":"A@/href","url":"http://www.target.com/x","text":"T"},{"url":"/local","path":"A@/href"},)"
      R"({"path":"A@/href","url":"//other.org/y"},{"path":"A@/href","url":"mailto:me@example.com"},)"
      R"({"path":"IMG@/src","url":"http://img.net/p.png"},{"path":"A@/href","url":"https://r1.com/self"},{"path":"A@/href"}]})";
  const std::string wat =
      Warcinfo() + Wat("request", "http://www.r1.com/page", "") + Wat("response", "http://www.r1.com/page", page1) +
      Wat("response", "http://new.net/",
          R"({"Head":{"Title":"Fresh \u00e9dition"},"Links":[{"path":"A@/href","url":"https://target.com/"}]})") +
      Wat("response", "http://image.net/p.png", "") + Wat("response", "http://bare.com/", "{}") +
      Wat("response", "", R"({"Head":{"Title":"No address"}})") +
      Record("metadata", "http://bad.com/", "{\"Envelope\":") + Wat("response", "http://www.r1.com/page", page1);
  const std::string wet = Warcinfo() + WetPage(1) + WetPage(2);
  const std::map<std::string, std::int64_t> skipped = {
      {"no page address (WARC-Target-URI)", 1}, {"not well-formed JSON", 1}, {"address already stored", 1}};
  for (bool textFirst : {true, false}) {
    SCOPED_TRACE(textFirst ? "text, then metadata" : "metadata, then text");
    ScratchDir dir;
    const std::string db = dir.File("w.db");
    PutKeywords(db, {"dog training guide", "fresh edition", "sample page 1"});
    ImportReport text, meta;
    if (textFirst) text = ImportFile("wet", db, dir.Write("in.wet", wet));
    meta = ImportFile("wat", db, dir.Write("in.wat", wat));
    if (!textFirst) text = ImportFile("wet", db, dir.Write("in.wet", wet));
    EXPECT_EQ(meta.skipped, skipped);
    EXPECT_EQ(meta.leftOut,
              (std::map<std::string, std::int64_t>{
                  {"warcinfo records", 1}, {"metadata of request records", 1}, {"responses without HTML", 1}}));
    // The mail link, in both records of the page.
    EXPECT_EQ(meta.linksDropped, 2);
    EXPECT_EQ(meta.added + meta.updated, 3);
    EXPECT_EQ(text.added + text.updated, 2);
    EXPECT_EQ(textFirst ? meta.updated : text.updated, 1);

    SqliteReader store(db);
    Service service(store);
    auto affiliates = [&](const std::string& host) {
      return ReadLinkCount(service.Respond("/search", "p=link%3Ahttp%3A%2F%2F" + host).body);
    };
    // Anchor links to other hosts count, once per linking page; relative, same-host, image
    // and mail links do not.
    EXPECT_EQ(affiliates("www.target.com"), "2");
    EXPECT_EQ(affiliates("other.org"), "1");
    EXPECT_EQ(affiliates("r1.com"), "0");
    EXPECT_EQ(affiliates("img.net"), "0");
    EXPECT_EQ(affiliates("example.com"), "0");
    // The crawl page has its text and its title, whatever came first; a page known only
    // from metadata is found by its title.
    EXPECT_EQ(ResearchRows(service, "dog training guide"),
              (std::vector<std::vector<std::string>>{{"dog training guide", "100", "1", "10000"}}));
    EXPECT_EQ(ResearchRows(service, "fresh"),
              (std::vector<std::vector<std::string>>{{"fresh edition", "100", "1", "10000"}}));
    EXPECT_EQ(ResearchRows(service, "sample"),
              (std::vector<std::vector<std::string>>{{"sample page 1", "100", "1", "10000"}}));
    EXPECT_EQ(ReadResultHosts(service.Respond("/search", "p=%22dog+training%22&n=100&b=1").body),
              (std::vector<std::string>{"www.r1.com", "www.r2.com"}));
    EXPECT_EQ(ReadResultHosts(service.Respond("/search", "p=%22no+address%22&n=100&b=1").body),
              std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace quillet::services
