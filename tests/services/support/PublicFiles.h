#pragma once
// Generated public data, laid out as its publishers lay it out: the crawl's list of crawls
// (collinfo.json), each crawl's paths lists and its metadata and text archives, a web-graph
// domain rank list, hourly pageview dumps. Made by the benchmarks, the tests of `get` (served
// by a local nginx) and the Windows test of the Quillet Data window; plain C++ and zlib, so
// that it builds for both.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quillet::services::testing {

// Reproducible text with a long-tailed vocabulary, about as compressible as real page text.
class TextMaker {
 public:
  TextMaker() {
    const char* syllables[] = {"ka", "lo", "mi", "ne", "ru", "ta", "po", "si", "an", "er",
                               "in", "on", "us", "el", "ar", "is", "te", "ve", "ro", "di",
                               "ma", "lu", "co", "ge", "ba", "fi", "ho", "ja", "qu", "xe"};
    for (const char* common : {"the", "of", "and", "to", "a", "in", "is", "for", "on", "that", "with", "as", "it"})
      words_.push_back(common);
    while (words_.size() < 50000) {
      std::string word;
      for (std::uint64_t n = 1 + Next() % 4; n > 0; --n) word += syllables[Next() % 30];
      words_.push_back(word);
    }
    double total = 0;
    for (size_t i = 0; i < words_.size(); ++i) cumulative_.push_back(total += 1.0 / static_cast<double>(i + 1));
  }
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  const std::string& Word() {
    double target = static_cast<double>(Next() >> 11) / 9007199254740992.0 * cumulative_.back();
    size_t i =
        static_cast<size_t>(std::lower_bound(cumulative_.begin(), cumulative_.end(), target) - cumulative_.begin());
    return words_[std::min(i, words_.size() - 1)];
  }
  std::string Sentence(size_t most) {
    std::string text;
    for (size_t n = 3 + Next() % most; n > 0; --n) text += (text.empty() ? "" : " ") + Word();
    return text;
  }

 private:
  std::uint64_t state_ = 20240518;
  std::vector<std::string> words_;
  std::vector<double> cumulative_;
};

// Writes gzip members, one per record, as the crawl archives are packed.
class GzipWriter {
 public:
  explicit GzipWriter(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}
  ~GzipWriter() {
    if (file_) std::fclose(file_);
  }
  GzipWriter(const GzipWriter&) = delete;
  GzipWriter& operator=(const GzipWriter&) = delete;
  void Member(const std::string& bytes) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    out_.resize(deflateBound(&z, static_cast<uLong>(bytes.size())) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out_.data());
    z.avail_out = static_cast<uInt>(out_.size());
    deflate(&z, Z_FINISH);
    std::fwrite(out_.data(), 1, z.total_out, file_);
    written_ += static_cast<std::int64_t>(z.total_out);
    deflateEnd(&z);
  }
  std::int64_t Written() const { return written_; }

 private:
  std::FILE* file_;
  std::string out_;
  std::int64_t written_ = 0;
};

inline std::string Record(const char* type, const std::string& url, const std::string& block) {
  return std::string("WARC/1.0\r\nWARC-Type: ") + type + "\r\nWARC-Target-URI: " + url +
         "\r\nWARC-Date: 2024-05-18T01:58:10Z\r\nWARC-Record-ID: <urn:uuid:6e9c1d0a-1b2c-4d3e-8f90-123456789abc>\r\n"
         "Content-Type: " +
         (std::string(type) == "metadata" ? "application/json" : "text/plain") +
         "\r\nContent-Length: " + std::to_string(block.size()) + "\r\n\r\n" + block + "\r\n\r\n";
}

inline std::string PageUrl(std::uint64_t page) {
  return "http://www.site" + std::to_string(page % 20000) + ".example/" + std::to_string(page) + ".html";
}

// A plain-text archive and the matching metadata archive of the pages from firstPage on, each
// about `bytes` of gzip. Returns the page after the last.
inline std::uint64_t WriteArchives(const std::string& wet, const std::string& wat, std::int64_t bytes, TextMaker& text,
                                   std::uint64_t firstPage = 0) {
  GzipWriter textOut(wet), metaOut(wat);
  textOut.Member(Record("warcinfo", "", "software: quillet tests\r\n"));
  metaOut.Member(Record("warcinfo", "", "software: quillet tests\r\n"));
  std::uint64_t page = firstPage;
  for (; textOut.Written() < bytes || metaOut.Written() < bytes; ++page) {
    std::string url = PageUrl(page);
    if (textOut.Written() < bytes) {
      std::string body;
      for (std::uint64_t lines = 5 + text.Next() % 40; lines > 0; --lines) body += text.Sentence(20) + ".\n";
      textOut.Member(Record("conversion", url, body));
    }
    if (metaOut.Written() < bytes) {
      std::string links;
      for (std::uint64_t n = 10 + text.Next() % 60; n > 0; --n) {
        std::uint64_t kind = text.Next() % 10;
        std::string target = kind < 3   ? PageUrl(text.Next())
                             : kind < 9 ? "/" + text.Word() + "/" + text.Word()
                                        : "//cdn.example/i.png";
        links += std::string(links.empty() ? "" : ",") + R"({"path":")" + (kind == 9 ? "IMG@/src" : "A@/href") +
                 R"(","url":")" + target + R"(","text":")" + text.Word() + R"("})";
      }
      std::string json =
          R"({"Container":{"Filename":"bench.warc.gz","Compressed":true,"Offset":"1234","Gzip-Metadata":{"Deflate-Length":"2345"}},)"
          R"("Envelope":{"Format":"WARC","WARC-Header-Length":"600","Block-Digest":"sha1:ABCDEFGHIJKLMNOP","Actual-Content-Length":"23456",)"
          R"("WARC-Header-Metadata":{"WARC-Type":"response","WARC-Date":"2024-05-18T01:58:10Z","WARC-Target-URI":")" +
          url +
          R"(","Content-Length":"23456"},"Payload-Metadata":{"Actual-Content-Type":"application/http; msgtype=response",)"
          R"("HTTP-Response-Metadata":{"Response-Message":{"Version":"HTTP/1.1","Status":"200","Reason":"OK"},)"
          R"("Headers":{"Server":"nginx","Content-Type":"text/html; charset=UTF-8","Cache-Control":"max-age=600"},)"
          R"("HTML-Metadata":{"Head":{"Title":")" +
          text.Sentence(8) + R"(","Metas":[{"name":"description","content":")" + text.Sentence(20) +
          R"("}],"Link":[{"path":"LINK@/href","url":"/style.css","rel":"stylesheet"}]},"Links":[)" + links +
          R"(]},"Entity-Length":"23000"}}}})";
      metaOut.Member(Record("metadata", url, R"({"Envelope":{"WARC-Header-Metadata":{"WARC-Type":"request"}}})"));
      metaOut.Member(Record("metadata", url, json));
    }
  }
  return page;
}

// What WritePublicData wrote, as paths relative to its root.
struct PublicData {
  std::string crawl;
  std::vector<std::string> wat, wet;  // the crawl's files, in the order of its paths lists
  std::int64_t pages = 0;             // in all of them (each in one metadata and one text file)
  std::string release;                // the web-graph release
  std::string domainRanks;
  std::vector<std::string> pageviews;  // the hours of the days, in order
};

struct PublicDataSize {
  int crawlFiles = 3;                  // metadata files, and as many text files
  std::int64_t archiveBytes = 100000;  // each
  int rankLines = 1000;
  std::vector<std::string> days = {"2024-05-01"};  // of 24 hourly pageview dumps each
  int pageviewLines = 200;                         // each
};

// The files a publisher's mirror holds, under root.
inline PublicData WritePublicData(const std::filesystem::path& root, const PublicDataSize& size) {
  namespace fs = std::filesystem;
  PublicData data;
  data.crawl = "CC-MAIN-2024-22";
  fs::create_directories(root);
  // Newest not first, as the publisher may list them; an older crawl without files.
  std::ofstream(root / "collinfo.json")
      << R"([{"id": "CC-MAIN-2024-18", "name": "April 2024 Index", "timegate": "x", "cdx-api": "y"},)"
      << R"( {"id": "CC-MAIN-2024-22", "name": "May 2024 Index", "timegate": "x", "cdx-api": "y"}])";
  const std::string segment = "crawl-data/" + data.crawl + "/segments/1715971057216.39/";
  fs::create_directories(root / segment / "wat");
  fs::create_directories(root / segment / "wet");
  TextMaker text;
  std::uint64_t page = 0;
  std::string watList, wetList;
  for (int i = 0; i < size.crawlFiles; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "CC-MAIN-20240517233122-20240518023122-%05d", i);
    data.wat.push_back(segment + "wat/" + name + ".warc.wat.gz");
    data.wet.push_back(segment + "wet/" + name + ".warc.wet.gz");
    page = WriteArchives((root / data.wet.back()).string(), (root / data.wat.back()).string(), size.archiveBytes, text,
                         page);
    data.pages = static_cast<std::int64_t>(page);
    watList += data.wat.back() + "\n";
    wetList += data.wet.back() + "\n";
  }
  GzipWriter((root / ("crawl-data/" + data.crawl + "/wat.paths.gz")).string()).Member(watList);
  GzipWriter((root / ("crawl-data/" + data.crawl + "/wet.paths.gz")).string()).Member(wetList);

  data.release = "cc-main-2024-feb-apr-may";
  data.domainRanks = "projects/hyperlinkgraph/" + data.release + "/domain/" + data.release + "-domain-ranks.txt.gz";
  fs::create_directories((root / data.domainRanks).parent_path());
  {
    std::string ranks = "#harmonicc_pos\t#harmonicc_val\t#pr_pos\t#pr_val\t#host_rev\t#n_hosts\n";
    for (int i = 1; i <= size.rankLines; ++i)
      ranks += std::to_string(i) + "\t" + std::to_string(100000 - i) + "\t" + std::to_string(i) +
               "\t0.001\texample.site" + std::to_string(i) + "\t3\n";
    GzipWriter((root / data.domainRanks).string()).Member(ranks);
  }

  for (const std::string& day : size.days) {
    const std::string compact = day.substr(0, 4) + day.substr(5, 2) + day.substr(8, 2);
    const std::string folder = "other/pageviews/" + day.substr(0, 4) + "/" + day.substr(0, 7) + "/";
    fs::create_directories(root / folder);
    for (int hour = 0; hour < 24; ++hour) {
      char name[64];
      std::snprintf(name, sizeof name, "pageviews-%s-%02d0000.gz", compact.c_str(), hour);
      std::string lines;
      for (int i = 0; i < size.pageviewLines; ++i)
        lines += std::string(i % 5 == 0 ? "de" : "en") + " " + text.Word() + "_" + text.Word() + " " +
                 std::to_string(1 + text.Next() % 20) + " 0\n";
      data.pageviews.push_back(folder + name);
      GzipWriter((root / data.pageviews.back()).string()).Member(lines);
    }
  }
  return data;
}

}  // namespace quillet::services::testing
