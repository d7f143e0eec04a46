#include "services/get/Get.h"

#include <algorithm>
#include <stdexcept>

#include "services/Limits.h"

namespace quillet::services {
namespace {

struct Planned {
  RemoteFile remote;
  std::int64_t bytes = -1;  // what will be read of it: all, or its top's share
};

// A fetch's outcome as the run sees it.
struct Attempt {
  FetchFailure failure = FetchFailure::kNone;
  bool duplicate = false;  // another run stored it meanwhile
  bool failed = false;     // RunImport reported a failure
  int status = 0;
};

bool Skippable(FetchFailure failure) {
  return failure == FetchFailure::kMissing || failure == FetchFailure::kNotGzip || failure == FetchFailure::kRefused ||
         failure == FetchFailure::kRestart;
}

class GetRun {
 public:
  GetRun(const GetSettings& settings, const GetStore& store, Fetcher& fetcher, RunEvents& events)
      : settings_(settings), store_(store), fetcher_(fetcher), events_(events) {}

  int Run(const std::vector<RemoteFile>& named) {
    std::vector<RemoteFile> todo;
    const std::vector<SourceRecord> recorded = store_.sources();
    for (const RemoteFile& file : named)
      if (std::none_of(recorded.begin(), recorded.end(), [&](const SourceRecord& source) {
            return source.address == file.url && Covers(source, file.firstLines);
          }))
        todo.push_back(file);
    if (todo.empty()) {
      events_.Stored("the " + std::to_string(named.size()) + " files named are stored already: nothing to fetch");
      return Finish(0);
    }
    std::vector<Planned> plan;
    if (!Measure(todo, &plan) || plan.empty()) return Finish(1);
    std::vector<PlannedFile> files;
    for (const Planned& file : plan) files.push_back({file.remote.url, file.remote.kind, file.bytes});
    tracker_ = std::make_unique<RunTracker>(events_, files);
    const Importer& first = *FindImporter(plan.front().remote.kind);
    if (first.run == RunKind::kEach) {
      for (std::size_t i = 0; i < plan.size(); ++i)
        if (!Store(plan, i, i + 1)) break;
    } else {
      Store(plan, 0, plan.size());
    }
    return Finish(status_);
  }

 private:
  int Finish(int status) {
    if (tracker_) tracker_->Finish();
    events_.Finished(status);
    return status;
  }

  // The size of each file to fetch (HEAD). A file the server does not have is reported and
  // left out; false when the run cannot go on.
  bool Measure(const std::vector<RemoteFile>& todo, std::vector<Planned>* plan) {
    for (const RemoteFile& file : todo) {
      try {
        std::int64_t size = fetcher_.Size(file.url);
        if (file.firstLines > 0)
          size = size < 0 ? RankListBytes(file.firstLines) : std::min(size, RankListBytes(file.firstLines));
        plan->push_back({file, size});
      } catch (const FetchError& error) {
        events_.Failed(std::string(error.what()) + (Skippable(error.Failure()) ? "; skipped" : ""));
        status_ = 1;
        if (!Skippable(error.Failure())) return false;
      }
    }
    return true;
  }

  // Whether the store's disk has room for what files [from, to) will add to it, and the
  // margin; says why not.
  bool Room(const std::vector<Planned>& plan, std::size_t from, std::size_t to) {
    const std::int64_t free = store_.freeBytes ? store_.freeBytes() : -1;
    if (free < 0) return true;
    double grows = 0;
    for (std::size_t i = from; i < to; ++i)
      grows += StoreGrowth(plan[i].remote.kind) * static_cast<double>(std::max<std::int64_t>(plan[i].bytes, 0));
    const std::int64_t need = static_cast<std::int64_t>(grows) + settings_.keepFree;
    if (free >= need) return true;
    events_.Failed("stopped before " + plan[from].remote.url + ": " + Megabytes(free) +
                   " free on the store's disk, and storing it takes about " +
                   Megabytes(static_cast<std::int64_t>(grows)) + " with " + Megabytes(settings_.keepFree) +
                   " kept free (--keep-free). What was stored so far is kept; free some space and run get again.");
    return false;
  }

  // Stores files [from, to) as one run of their importer; false when the run must stop.
  bool Store(const std::vector<Planned>& plan, std::size_t from, std::size_t to) {
    if (!Room(plan, from, to)) {
      status_ = 1;
      return false;
    }
    const Importer& importer = *FindImporter(plan[from].remote.kind);
    std::vector<std::string> urls;
    for (std::size_t i = from; i < to; ++i) urls.push_back(plan[i].remote.url);
    ImportSettings settings = settings_.import;
    settings.top = plan[from].remote.firstLines;
    // The hours found, which is what the sums cover.
    if (importer.run == RunKind::kHourly) settings.hours = static_cast<int>(urls.size());
    Attempt attempt;
    for (int restarts = 0;; ++restarts) {
      attempt = Read(importer, plan, from, to, urls, settings);
      if (attempt.failure != FetchFailure::kRestart || restarts == limits::kGetFileRestarts) break;
      events_.Note("reading " + (to - from == 1 ? urls.front() : "the run") + " again from its start");
      tracker_->Rewind(from);
    }
    if (attempt.duplicate) return true;
    if (attempt.failed && Skippable(attempt.failure)) {
      status_ = 1;
      return true;
    }
    if (attempt.failed) {
      events_.Failed("get stopped; what was stored before is kept, and get started again goes on from here");
      status_ = 1;
      return false;
    }
    status_ = std::max(status_, attempt.status);
    return true;
  }

  Attempt Read(const Importer& importer, const std::vector<Planned>& plan, std::size_t from, std::size_t to,
               const std::vector<std::string>& urls, const ImportSettings& settings) {
    Attempt attempt;
    RunInputs inputs;
    inputs.open = [&](const std::string& url) {
      std::int64_t size = -1;
      for (std::size_t i = from; i < to; ++i)
        if (plan[i].remote.url == url && plan[i].remote.firstLines == 0) size = plan[i].bytes;
      return fetcher_.Open(url, size, true, &attempt.failure);
    };
    inputs.address = [](const std::string& url) { return url; };
    const std::int64_t firstLines = settings.top;
    OpenWriter openWriter = [&]() {
      std::unique_ptr<StoreWriter> writer = store_.openWriter();
      for (const std::string& url : urls)
        if (writer->HasSource(url, firstLines)) {
          attempt.duplicate = true;
          throw std::runtime_error("stored meanwhile by another run");
        }
      return writer;
    };
    RunConsole console = tracker_->Console(store_.explain);
    console.failed = [&](const std::string& text) {
      attempt.failed = true;
      events_.Failed(text);
    };
    attempt.status = RunImport(importer, urls, settings, openWriter, console, inputs);
    tracker_->Finish();
    return attempt;
  }

  const GetSettings& settings_;
  const GetStore& store_;
  Fetcher& fetcher_;
  RunEvents& events_;
  std::unique_ptr<RunTracker> tracker_;
  int status_ = 0;
};

}  // namespace

double StoreGrowth(const std::string& kind) {
  // Measured on generated and real files (services/README.md): crawl text with its index
  // about 2 bytes per compressed byte, metadata (titles, links) about 1, rank lists about 30
  // bytes a line of about 16, a day of pageviews' sums and terms about as much as the dumps.
  if (kind == "wet" || kind == "hostranks") return 2.0;
  return 1.0;
}

int RunGet(const GetRequest& request, const GetSettings& settings, const GetStore& store, Fetcher& fetcher,
           RunEvents& events, std::time_t now) {
  std::vector<RemoteFile> named;
  try {
    named = ListFiles(request, fetcher, now);
  } catch (const FetchError& error) {
    events.Failed(error.what());
    events.Finished(1);
    return 1;
  }
  return GetRun(settings, store, fetcher, events).Run(named);
}

}  // namespace quillet::services
