// The mirror address a user types, joined with the publishers' paths: an address get takes
// gives files under it, shown without a password; one it refuses is refused before any
// request.
#include <stdexcept>
#include <string>

#include "protocol/Mirror.h"
#include "services/get/Publishers.h"
#include "tests/services/support/ScriptedHttp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet::services;
  const std::string mirror(reinterpret_cast<const char*>(data), size);
  testing::ScriptedHttp client([](const HttpRequest&) -> testing::Reply { __builtin_trap(); });
  Fetcher fetcher = client.MakeFetcher(nullptr);
  GetRequest request;
  request.what = "hostranks";
  request.mirror = mirror;
  const bool taken = quillet::protocol::MirrorProblem(mirror).empty();
  try {
    const std::string base = MirrorBase(mirror);
    if (!taken || base.empty() || base.back() == '/' || mirror.rfind(base, 0) != 0) __builtin_trap();
    const FileList list = ListFiles(request, fetcher, 0);
    if (list.files.size() != 1) __builtin_trap();
    const RemoteFile& file = list.files.front();
    if (file.url.rfind(base + "/projects/hyperlinkgraph/", 0) != 0) __builtin_trap();
    const std::string shown = quillet::protocol::WithoutCredentials(file.url);
    if (shown != file.address || quillet::protocol::WithoutCredentials(shown) != shown) __builtin_trap();
    const std::size_t host = shown.find("://") + 3;
    if (shown.find('@') < shown.find('/', host)) __builtin_trap();
  } catch (const std::invalid_argument&) {
    if (taken) __builtin_trap();
  }
  return 0;
}
