// A crawl's paths lists as `get` reads them whole (through the download and the input layer):
// whatever the two lists hold, the files named are pairs of a metadata file and its text
// file, each path safe to put after a host, never more than asked, and a shortfall is said.
// The input is the metadata list, a NUL, then the text list.
#include <string>

#include "services/get/Publishers.h"
#include "tests/services/support/ScriptedHttp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet::services;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = bytes.find('\0');
  const std::string wat = bytes.substr(0, nul), wet = nul == std::string::npos ? std::string() : bytes.substr(nul + 1);
  testing::ScriptedHttp client([&](const HttpRequest& request) {
    testing::Reply reply = testing::Status(200);
    const std::string& url = request.url;
    if (url.ends_with("/wat.paths.gz")) reply.body = wat;
    else if (url.ends_with("/wet.paths.gz")) reply.body = wet;
    else reply = testing::Status(404);
    reply.head.length = static_cast<std::int64_t>(reply.body.size());
    return reply;
  });
  Fetcher fetcher = client.MakeFetcher(nullptr);
  GetRequest request;
  request.what = "crawl";
  request.name = "CC-MAIN-2024-22";
  request.files = 3;
  request.mirror = "http://m";
  const std::string base = "http://m/";
  try {
    const FileList list = ListFiles(request, fetcher, 0);
    if (list.files.size() % 2 != 0 || list.files.size() > 6) __builtin_trap();
    if (list.shortfall.empty() != (list.files.size() == 6)) __builtin_trap();
    for (std::size_t i = 0; i < list.files.size(); i += 2) {
      const RemoteFile& metadata = list.files[i];
      const RemoteFile& text = list.files[i + 1];
      if (metadata.kind != "wat" || text.kind != "wet") __builtin_trap();
      if (metadata.url.rfind(base, 0) != 0 || text.url.rfind(base, 0) != 0) __builtin_trap();
      const std::string path = metadata.url.substr(base.size());
      if (!SafePath(path) || TextPathFor(path) != text.url.substr(base.size())) __builtin_trap();
    }
  } catch (const FetchError&) {
  }
  return 0;
}
