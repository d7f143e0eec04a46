#include "services/get/Get.h"

#include <algorithm>
#include <stdexcept>

#include "protocol/Format.h"
#include "protocol/OpenData.h"
#include "services/Limits.h"

namespace quillet::services {
namespace {

struct Planned {
  RemoteFile remote;
  std::int64_t bytes = -1;  // what will be read of it: all, or its top's share
};

// A reading's outcome as the run sees it.
struct Reading {
  FetchFailure failure = FetchFailure::kNone;
  std::string current;     // the address of the file being read when it failed
  bool duplicate = false;  // another run stored it meanwhile
  bool failed = false;     // RunImport reported a failure
  int status = 0;
};

// What a user can do about a failure; neutral about where get runs (a window, a prompt).
std::string Advice(FetchFailure failure) {
  switch (failure) {
    case FetchFailure::kMissing:
      return "The publisher does not have this file (yet): the others are stored. Getting again later fetches it.";
    case FetchFailure::kNotGzip:
      return "Something between this computer and the server sent a page instead of the file: a proxy, or a "
             "network that wants you to log in. Open a web page to log in, then get again.";
    case FetchFailure::kEmpty:
    case FetchFailure::kRefused:
      return "The server did not send this file as it should. Get again later, or from another mirror.";
    case FetchFailure::kRestart:
      return "The transfer broke off again and again, or the file changed on the server. Getting again later "
             "fetches it; stored files are not fetched twice.";
    case FetchFailure::kUnreachable:
      return "Check the address (the mirror, if you gave one) and the network connection, then get again: what "
             "was stored stays, and no file is fetched twice.";
    case FetchFailure::kUntrusted:
      return "This computer does not trust the server's certificate. For a company's mirror, have its certificate "
             "installed; never get data over a connection you cannot trust.";
    case FetchFailure::kNone: break;
  }
  return {};
}

class GetRun {
 public:
  GetRun(const GetSettings& settings, const GetStore& store, Fetcher& fetcher, RunEvents& events)
      : settings_(settings), store_(store), fetcher_(fetcher), events_(events) {}

  int Run(const FileList& list) {
    // A plan tells the files and sizes, and fails only when the run could not go on: what
    // the run itself skips, it says.
    if (!list.shortfall.empty() && !settings_.planOnly) {
      events_.Failed(list.shortfall, "Ask for fewer files, or for another crawl.");
      status_ = 1;
    }
    const std::vector<RemoteFile> todo = Unrecorded(list.files);
    if (todo.empty()) {
      tracker_ = std::make_unique<RunTracker>(events_, std::vector<PlannedFile>{});  // a plan of nothing
      if (!list.files.empty())
        events_.Stored("the " + protocol::Counted(static_cast<std::int64_t>(list.files.size()), "file") + " named " +
                       (list.files.size() == 1 ? "is" : "are") + " stored already: nothing to fetch");
      return Finish(status_);
    }
    std::vector<Planned> plan;
    if (!Measure(todo, &plan)) return Finish(1);
    std::vector<PlannedFile> files;
    for (const Planned& file : plan) files.push_back({file.remote.address, file.remote.kind, file.bytes});
    tracker_ = std::make_unique<RunTracker>(events_, files);
    if (settings_.planOnly || plan.empty()) return Finish(status_);
    const Importer& first = *FindImporter(plan.front().remote.kind);
    if (first.run == RunKind::kEach) {
      for (std::size_t i = 0; i < plan.size(); ++i)
        if (!Store(plan, i, i + 1)) break;
    } else {
      Store(plan, 0, plan.size());
      if (stored_ > 0 && (plan.size() < todo.size() || stored_ < plan.size())) {
        events_.Failed("the sums are partial: " + std::to_string(stored_) + " of the " +
                           protocol::Counted(static_cast<std::int64_t>(todo.size()), "file") + " named were stored",
                       "Getting again once the publisher has them all reads them all again, so that the sums "
                       "come from every one.");
        status_ = 1;
      }
    }
    return Finish(status_);
  }

 private:
  int Finish(int status) {
    if (tracker_) tracker_->Finish();
    events_.Finished(status);
    return status;
  }

  // The files not recorded yet. The files of a run of one import are all read when any of
  // them is not: their sums must come from every one of them.
  std::vector<RemoteFile> Unrecorded(const std::vector<RemoteFile>& named) const {
    const std::vector<SourceRecord> recorded = store_.sources();
    std::vector<RemoteFile> todo;
    for (const RemoteFile& file : named)
      if (std::none_of(recorded.begin(), recorded.end(), [&](const SourceRecord& source) {
            return source.address == file.address && Covers(source, file.firstLines);
          }))
        todo.push_back(file);
    if (!todo.empty() && FindImporter(todo.front().kind)->run != RunKind::kEach) return named;
    return todo;
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
        const bool skipped = Skippable(error.Failure());
        if (skipped && settings_.planOnly) continue;
        events_.Failed(std::string(error.what()) + (skipped ? "; skipped" : ""), Advice(error.Failure()));
        status_ = 1;
        if (!skipped) return false;
      }
    }
    return true;
  }

  // Whether the store's disk has room for what files [from, to) will add to it, and the
  // margin; says why not. Sizes are summed without overflow, whatever a server declared.
  bool Room(const std::vector<Planned>& plan, std::size_t from, std::size_t to) {
    const std::int64_t free = store_.freeBytes ? store_.freeBytes() : -1;
    if (free < 0) return true;
    std::int64_t grows = 0;
    for (std::size_t i = from; i < to; ++i)
      grows = protocol::AddSizes(grows, protocol::ScaleSize(plan[i].bytes, protocol::StoreGrowth(plan[i].remote.kind)));
    if (free >= protocol::AddSizes(grows, settings_.keepFree)) return true;
    events_.Failed("stopped before " + plan[from].remote.address + ": " + protocol::Bytes(free) +
                       " free on the store's disk, and storing it takes about " + protocol::Bytes(grows) + " with " +
                       protocol::Bytes(settings_.keepFree) +
                       " kept free (--keep-free). What was stored so far is kept.",
                   "Free some space on that disk, then get again.");
    return false;
  }

  // Stores files [from, to) as one run of their importer; false when the run must stop. A
  // file of a run of one import that is skipped is left out, and the others are read again
  // without it.
  bool Store(const std::vector<Planned>& plan, std::size_t from, std::size_t to) {
    if (!Room(plan, from, to)) {
      status_ = 1;
      return false;
    }
    const Importer& importer = *FindImporter(plan[from].remote.kind);
    std::vector<const Planned*> files;
    for (std::size_t i = from; i < to; ++i) files.push_back(&plan[i]);
    Reading reading;
    for (int restarts = 0;;) {
      reading = Read(importer, files);
      tracker_->Finish();
      if (!reading.failed || reading.duplicate) break;
      if (reading.failure == FetchFailure::kRestart && restarts < limits::kGetFileRestarts) {
        ++restarts;
        events_.Note("reading " + (files.size() == 1 ? files.front()->remote.address : "the run") +
                     " again from its start");
      } else if (importer.run != RunKind::kEach && Skippable(reading.failure) && files.size() > 1) {
        for (const Planned* file : files)
          if (file->remote.url == reading.current) tracker_->Drop(file->remote.address);
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [&](const Planned* file) { return file->remote.url == reading.current; }),
                    files.end());
        events_.Note("reading the other " + protocol::Counted(static_cast<std::int64_t>(files.size()), "file") +
                     " again without it");
      } else {
        break;
      }
      tracker_->Rewind(from);
    }
    if (store_.imported) store_.imported();
    if (reading.duplicate) return true;
    status_ = std::max(status_, reading.status);
    if (reading.failed && Skippable(reading.failure)) return true;
    if (reading.failed) {
      events_.Failed("get stopped; what was stored before is kept", Advice(reading.failure));
      return false;
    }
    stored_ += files.size();
    return true;
  }

  Reading Read(const Importer& importer, const std::vector<const Planned*>& files) {
    Reading reading;
    std::vector<std::string> urls;
    for (const Planned* file : files) urls.push_back(file->remote.url);
    ImportSettings settings = settings_.import;
    settings.top = files.front()->remote.firstLines;
    // The hours read, which is what the sums cover.
    if (importer.run == RunKind::kHourly) settings.hours = static_cast<int>(urls.size());
    RunInputs inputs;
    auto find = [&](const std::string& url) {
      return *std::find_if(files.begin(), files.end(), [&](const Planned* file) { return file->remote.url == url; });
    };
    inputs.open = [&](const std::string& url) {
      reading.current = url;
      const Planned& file = *find(url);
      return fetcher_.Open(url, file.remote.firstLines == 0 ? file.bytes : -1, true, &reading.failure);
    };
    inputs.address = [&](const std::string& url) { return find(url)->remote.address; };
    // A transfer that is not the whole file, or a file that holds nothing to store, is never
    // recorded: the next run fetches it again.
    inputs.check = [&](const InputFile& input, const ImportReport& report) {
      if (input.HowItEnded() == InputFile::Ending::kCutShort || input.HowItEnded() == InputFile::Ending::kDamaged) {
        reading.failure = FetchFailure::kRestart;
        throw InputError("what arrived is not the whole file (" + input.Damage() + ")");
      }
      const std::string nothing = NothingStored(importer, report);
      if (!nothing.empty()) {
        reading.failure = FetchFailure::kEmpty;
        throw InputError("it holds nothing to store (" + nothing.substr(nothing.find(": ") + 2) + ")");
      }
    };
    OpenWriter openWriter = [&]() {
      std::unique_ptr<StoreWriter> writer = store_.openWriter();
      if (std::all_of(files.begin(), files.end(),
                      [&](const Planned* file) { return writer->HasSource(file->remote.address, settings.top); })) {
        reading.duplicate = true;
        throw std::runtime_error("stored meanwhile by another run");
      }
      return writer;
    };
    // The importer names files as they were asked for: shown, they lose a mirror's password.
    auto shown = [&](std::string text) {
      for (const Planned* file : files) {
        const std::string& url = file->remote.url;
        for (std::size_t at = 0; url != file->remote.address && (at = text.find(url, at)) != std::string::npos;
             at += file->remote.address.size())
          text.replace(at, url.size(), file->remote.address);
      }
      return text;
    };
    RunConsole console = tracker_->Console(store_.explain);
    console.said = [&, said = console.said](const std::string& text) { said(shown(text)); };
    console.progress = [&, progress = console.progress](const std::string& url) { return progress(shown(url)); };
    console.failed = [&](const std::string& text) {
      reading.failed = true;
      const bool skipped = Skippable(reading.failure) && reading.failure != FetchFailure::kRestart;
      events_.Failed(shown(text) + (skipped ? "; skipped" : ""), Advice(reading.failure));
    };
    reading.status = RunImport(importer, urls, settings, openWriter, console, inputs);
    return reading;
  }

  const GetSettings& settings_;
  const GetStore& store_;
  Fetcher& fetcher_;
  RunEvents& events_;
  std::unique_ptr<RunTracker> tracker_;
  std::size_t stored_ = 0;  // files stored
  int status_ = 0;
};

}  // namespace

int RunGet(const GetRequest& request, const GetSettings& settings, const GetStore& store, Fetcher& fetcher,
           RunEvents& events, std::time_t now) {
  FileList list;
  try {
    list = ListFiles(request, fetcher, now);
  } catch (const FetchError& error) {
    events.Failed(error.what(), Advice(error.Failure()));
    events.Finished(1);
    return 1;
  }
  return GetRun(settings, store, fetcher, events).Run(list);
}

}  // namespace quillet::services
