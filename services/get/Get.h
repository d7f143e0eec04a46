#pragma once
// `get`: public data fetched from its publishers (or a mirror) and streamed through the
// importers of `import` into the store, one transfer at a time, as `import` would store the
// same files read from disk. Each file is one import (the hours of a day of pageviews
// together, summed), recorded as a source with its data, so that a file is never stored twice
// and a run that was stopped or killed goes on, when started again, with the first file not
// stored. A file whose transfer is cut resumes where it stopped or, when the server cannot
// resume, is imported again from its start.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "services/get/Console.h"
#include "services/get/Download.h"
#include "services/get/Publishers.h"
#include "services/import/Run.h"

namespace quillet::services {

// What `get` needs of the store, given by the program.
struct GetStore {
  OpenWriter openWriter;
  std::function<std::vector<SourceRecord>()> sources;
  // Bytes free on the disk where the store grows; -1 when unknown (a ClickHouse server's).
  std::function<std::int64_t()> freeBytes;
  // A store's error as people should read it; may be null.
  std::function<std::string(const std::exception&)> explain;
  // Called after each import of the run, whether it stored anything or not; may be null.
  std::function<void()> imported;
};

struct GetSettings {
  ImportSettings import;  // as `import` takes them (--project; --top and --hours are set here)
  // Left free on the store's disk: a file is not started when the store, grown by what the
  // file would add to it, would leave less.
  std::int64_t keepFree = std::int64_t{1} << 30;
  // Only find the files to fetch and their sizes, and tell them as the plan: nothing is
  // stored. A program that runs several gets learns the whole job's size first this way, and
  // whether the servers can be reached; files the run would skip are left out unsaid (the
  // run says them), and only what would stop the run fails the plan.
  bool planOnly = false;
};

// Fetches and stores the files the request names that the store has not recorded yet. The
// files of a run of one import (the hours of a day of pageviews) are read together whenever
// one of them is not recorded, so that their sums always come from all of them.
// A file that is not found, not gzip data, holds nothing to store or is refused by the server
// is reported and skipped (an hour of a day is left out of its sums), and so is a file whose
// transfer could not be made whole in limits::kGetFileRestarts more readings: never recorded,
// so that a later run fetches it. A store that fails (a full disk), a server that cannot be
// reached and a certificate not trusted stop the run, as does too little free disk before a
// file. Everything stored up to then stays. Returns 0 when every file named is stored, 1
// otherwise (also when the publisher's lists name fewer files than asked); tells events as
// it goes (Finished last), each failure with advice. Throws std::invalid_argument for a
// request of another form.
int RunGet(const GetRequest& request, const GetSettings& settings, const GetStore& store, Fetcher& fetcher,
           RunEvents& events, std::time_t now);

}  // namespace quillet::services
