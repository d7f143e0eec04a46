#pragma once
// Where the public data lives and how its publishers lay it out: the web crawl (its list of
// crawls, each crawl's lists of metadata and text files), the web-graph rank lists, the
// hourly pageview dumps. A mirror has the same paths on another host.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "services/get/Download.h"

namespace quillet::services {

inline constexpr const char* kCrawlIndexHost = "https://index.commoncrawl.org";
inline constexpr const char* kCrawlDataHost = "https://data.commoncrawl.org";
inline constexpr const char* kPageviewsHost = "https://dumps.wikimedia.org";
// The newest web-graph release this version knows (services/README.md names it too); the
// publisher lists newer ones on its web-graph pages, and `get hostranks RELEASE` takes them.
inline constexpr const char* kDefaultGraphRelease = "cc-main-2024-feb-apr-may";

// What `get` is asked for.
struct GetRequest {
  std::string what;      // crawl, hostranks or pageviews
  std::string name;      // the crawl, release or day (YYYY-MM-DD); empty: newest or default
  int files = 1;         // crawl: metadata files and as many matching text files
  bool hosts = false;    // hostranks: the host list instead of the domain list
  std::int64_t top = 0;  // hostranks: only the best lines; 0: all
  int hours = 24;        // pageviews: the day's first hours
  std::string mirror;    // replaces every publisher's scheme and host; empty: none
};

// One file to fetch, in import order.
struct RemoteFile {
  std::string url;              // as asked, with the mirror's user name and password if any
  std::string address;          // as shown and recorded: the url without them
  std::string kind;             // the importer's
  std::int64_t firstLines = 0;  // only its first lines (ImportSettings::top); 0: all
};

struct FileList {
  std::vector<RemoteFile> files;
  // When the publisher's lists name fewer files than asked: which, and how many; else empty.
  std::string shortfall;
};

// The files a request names: for a crawl, it reads the list of crawls (for the newest) and
// the crawl's paths lists. Throws FetchError, or std::invalid_argument for a request of
// another form (a name that is no crawl, release or date, a mirror that is no address).
FileList ListFiles(const GetRequest& request, Fetcher& fetcher, std::time_t now);

// The mirror as the base of the files' addresses, without a '/' at its end. Throws
// std::invalid_argument when it is no mirror address (protocol::MirrorProblem).
std::string MirrorBase(const std::string& mirror);

// The newest crawl ("CC-MAIN-YYYY-WW") of the publisher's list of crawls (a JSON array of
// objects with an "id"), or empty when it names none.
std::string NewestCrawl(std::string_view json);
// Whether a line of a paths list is a path we may append to a host: relative, of letters,
// digits and "._-/" only, without an empty or ".." part, at most limits::kMaxPathLength.
bool SafePath(std::string_view path);
// The text file's path matching a metadata file's (".../wat/X.warc.wat.gz" to
// ".../wet/X.warc.wet.gz"), or empty when the path is not a metadata file's.
std::string TextPathFor(std::string_view metadataPath);
// The last day whose hourly dumps are all out by now (UTC), as YYYY-MM-DD.
std::string LastCompleteDay(std::time_t now);
// The bytes of a rank list's first lines, roughly (gzip of tab-separated lines).
std::int64_t RankListBytes(std::int64_t lines);

}  // namespace quillet::services
