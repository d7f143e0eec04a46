#include "services/get/Publishers.h"

#include <algorithm>
#include <stdexcept>

#include "protocol/Format.h"
#include "protocol/Mirror.h"
#include "protocol/OpenData.h"
#include "services/Limits.h"
#include "services/import/Json.h"

namespace quillet::services {
namespace {

// Dumps of an hour are out about an hour after it: by 03:00 UTC the day before is complete.
constexpr int kDayCompleteHour = 3;

bool Digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Names that become part of a path: letters, digits and '-' only.
bool PlainName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
}

std::tm Utc(std::time_t time) {
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &time);
#else
  gmtime_r(&time, &utc);
#endif
  return utc;
}

std::string Base(const GetRequest& request, const char* host) {
  return request.mirror.empty() ? host : MirrorBase(request.mirror);
}

RemoteFile Remote(std::string url, std::string kind, std::int64_t firstLines) {
  std::string address = protocol::WithoutCredentials(url);
  return {std::move(url), std::move(address), std::move(kind), firstLines};
}

// The first lines of a gzipped paths list, at most count; a shortfall is said in *shortfall.
std::vector<std::string> ReadPaths(Fetcher& fetcher, const std::string& url, int count, std::string* shortfall) {
  InputFile input(fetcher.Open(url, -1, true));
  LineReader lines(input, limits::kMaxPathLength);
  std::vector<std::string> paths;
  std::string_view line;
  while (static_cast<int>(paths.size()) < count) {
    LineReader::Result result = lines.Next(&line);
    if (result == LineReader::Result::End) break;
    if (result == LineReader::Result::TooLong || !SafePath(line))
      throw FetchError(FetchFailure::kRefused, protocol::WithoutCredentials(url) + ": line " +
                                                   std::to_string(lines.Number()) + " is no file path");
    paths.emplace_back(line);
  }
  const std::string shown = protocol::WithoutCredentials(url);
  if (static_cast<int>(paths.size()) < count && !input.Damage().empty())
    throw FetchError(FetchFailure::kRefused, shown + ": " + input.Damage());
  if (static_cast<int>(paths.size()) < count && shortfall->empty())
    *shortfall = shown + " names " + protocol::Counted(static_cast<std::int64_t>(paths.size()), "file") +
                 ", fewer than the " + std::to_string(count) + " asked";
  return paths;
}

FileList CrawlFiles(const GetRequest& request, Fetcher& fetcher) {
  std::string crawl = request.name;
  if (!crawl.empty() && !PlainName(crawl)) throw std::invalid_argument("no crawl is named " + crawl);
  const std::string base = Base(request, kCrawlDataHost) + "/";
  if (crawl.empty()) {
    const std::string list = Base(request, kCrawlIndexHost) + "/collinfo.json";
    crawl = NewestCrawl(fetcher.Whole(list, limits::kMaxCrawlList));
    if (crawl.empty()) throw FetchError(FetchFailure::kRefused, protocol::WithoutCredentials(list) + " names no crawl");
  }
  const std::string folder = base + "crawl-data/" + crawl + "/";
  FileList list;
  std::vector<std::string> metadata = ReadPaths(fetcher, folder + "wat.paths.gz", request.files, &list.shortfall);
  std::vector<std::string> text = ReadPaths(fetcher, folder + "wet.paths.gz", request.files, &list.shortfall);
  for (std::size_t i = 0; i < std::min(metadata.size(), text.size()); ++i) {
    if (TextPathFor(metadata[i]) != text[i])
      throw FetchError(FetchFailure::kRefused, "the paths lists of " + crawl + " do not match at line " +
                                                   std::to_string(i + 1) + ": " + metadata[i] + ", " + text[i]);
    // Metadata first: pages made from it take their text without being indexed twice.
    list.files.push_back(Remote(base + metadata[i], "wat", 0));
    list.files.push_back(Remote(base + text[i], "wet", 0));
  }
  return list;
}

FileList RankFiles(const GetRequest& request) {
  const std::string release = request.name.empty() ? kDefaultGraphRelease : request.name;
  if (!PlainName(release)) throw std::invalid_argument("no web-graph release is named " + release);
  const char* level = request.hosts ? "host" : "domain";
  return {{Remote(Base(request, kCrawlDataHost) + "/projects/hyperlinkgraph/" + release + "/" + level + "/" + release +
                      "-" + level + "-ranks.txt.gz",
                  "hostranks", request.top)},
          {}};
}

FileList PageviewFiles(const GetRequest& request, std::time_t now) {
  std::string day = request.name.empty() ? LastCompleteDay(now) : request.name;
  // YYYY-MM-DD, or YYYYMMDD as the dumps name it.
  if (day.size() == 8 && Digits(day)) day = day.substr(0, 4) + "-" + day.substr(4, 2) + "-" + day.substr(6);
  const bool shaped = day.size() == 10 && day[4] == '-' && day[7] == '-' && Digits(day.substr(0, 4)) &&
                      Digits(day.substr(5, 2)) && Digits(day.substr(8));
  std::tm utc{};
  if (shaped) {
    const std::int64_t year = std::stoll(day.substr(0, 4));
    const unsigned month = static_cast<unsigned>(std::stoi(day.substr(5, 2)));
    const unsigned date = static_cast<unsigned>(std::stoi(day.substr(8)));
    utc = Utc(static_cast<std::time_t>(DaysSince1970(year, month, date) * 86400));
    if (month < 1 || month > 12 || utc.tm_mday != static_cast<int>(date)) utc = {};
  }
  if (utc.tm_mday == 0) throw std::invalid_argument("a day is YYYY-MM-DD, got " + day);
  if (request.hours < 1 || request.hours > 24) throw std::invalid_argument("--hours wants 1 to 24");
  const std::string year = day.substr(0, 4), month = day.substr(0, 7),
                    compact = day.substr(0, 4) + day.substr(5, 2) + day.substr(8);
  FileList list;
  const std::string base = Base(request, kPageviewsHost);
  for (int hour = 0; hour < request.hours; ++hour) {
    char name[64];
    std::snprintf(name, sizeof name, "pageviews-%s-%02d0000.gz", compact.c_str(), hour);
    list.files.push_back(Remote(base + "/other/pageviews/" + year + "/" + month + "/" + name, "pageviews", 0));
  }
  return list;
}

}  // namespace

std::string MirrorBase(const std::string& mirror) {
  const std::string problem = protocol::MirrorProblem(mirror);
  if (!problem.empty())
    throw std::invalid_argument("--mirror " + protocol::WithoutCredentials(mirror) + ": " + problem);
  std::string base = mirror;
  while (base.back() == '/') base.pop_back();
  return base;
}

FileList ListFiles(const GetRequest& request, Fetcher& fetcher, std::time_t now) {
  if (request.what == "crawl") return CrawlFiles(request, fetcher);
  if (request.what == "hostranks") return RankFiles(request);
  if (request.what == "pageviews") return PageviewFiles(request, now);
  throw std::invalid_argument("get crawl, hostranks or pageviews, not " + request.what);
}

std::string NewestCrawl(std::string_view json) {
  std::string newest, error;
  PickJson(
      json, {{"[]", "id"}},
      [&](std::size_t, std::size_t, const std::string* id) {
        // "CC-MAIN-2024-22": year and week sort as text.
        if (id && id->size() == 15 && id->rfind("CC-MAIN-", 0) == 0 && Digits(id->substr(8, 4)) && (*id)[12] == '-' &&
            Digits(id->substr(13)) && *id > newest)
          newest = *id;
      },
      &error);
  return error.empty() ? newest : std::string();
}

bool SafePath(std::string_view path) {
  if (path.empty() || path.size() > limits::kMaxPathLength || path.front() == '/' || path.back() == '/') return false;
  for (char c : path)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
          c == '-' || c == '/'))
      return false;
  std::size_t from = 0;
  while (from <= path.size()) {
    std::size_t end = std::min(path.find('/', from), path.size());
    std::string_view part = path.substr(from, end - from);
    if (part.empty() || part == "." || part == "..") return false;
    from = end + 1;
  }
  return true;
}

std::string TextPathFor(std::string_view metadataPath) {
  constexpr std::string_view kFolder = "/wat/", kEnd = ".warc.wat.gz";
  std::size_t folder = metadataPath.rfind(kFolder);
  if (folder == std::string_view::npos || metadataPath.size() < kEnd.size() ||
      metadataPath.substr(metadataPath.size() - kEnd.size()) != kEnd ||
      metadataPath.find('/', folder + kFolder.size()) != std::string_view::npos)
    return {};
  std::string text(metadataPath);
  text.replace(folder, kFolder.size(), "/wet/");
  text.replace(text.size() - kEnd.size(), kEnd.size(), ".warc.wet.gz");
  return text;
}

std::string LastCompleteDay(std::time_t now) {
  const int back = Utc(now).tm_hour >= kDayCompleteHour ? 1 : 2;
  std::tm day = Utc(now - static_cast<std::time_t>(back) * 86400);
  char text[40];  // room for any int the compiler cannot rule out
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.tm_year + 1900, day.tm_mon + 1, day.tm_mday);
  return text;
}

std::int64_t RankListBytes(std::int64_t lines) { return protocol::ScaleSize(lines, protocol::kRankLineBytes); }

}  // namespace quillet::services
