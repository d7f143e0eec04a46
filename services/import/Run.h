#pragma once
// The rules of one `import` run over its files: which files are one import, when sums are
// stored and scaled, what is said about each file, and the exit status.
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services/import/Importers.h"

namespace quillet::services {

// Where a run tells what it did, one line at a time (without line ends).
struct RunConsole {
  std::function<void(const std::string&)> said;    // what a file or the run stored
  std::function<void(const std::string&)> failed;  // a file or the run that failed
  // The progress of a file about to be read; may be null.
  std::function<ImportProgress(const std::string& file)> progress;
  // A store's error as people should read it; may be null (its what() is used).
  std::function<std::string(const std::exception&)> explain;
};

// A writer for one import (each file of a kEach run, or the whole of another run).
using OpenWriter = std::function<std::unique_ptr<StoreWriter>()>;

// Where the inputs of a run come from, and what each is recorded as. The defaults read files
// and record each under its absolute path.
struct RunInputs {
  std::function<std::unique_ptr<ByteSource>(const std::string& name)> open = OpenFileSource;
  std::function<std::string(const std::string& name)> address = AbsolutePath;
  // Called once an input has been read, before it is recorded; may be null. It may throw
  // InputError to refuse the input (a download that is not the whole file), and then nothing
  // of it is kept: for a run of one import, nothing of the run.
  std::function<void(const InputFile& input, const ImportReport& report)> check;
};

// Reads the inputs with the importer and stores them as its RunKind says: kEach commits each
// file on its own, and a file that fails leaves the others stored; kSummed and kHourly are
// one import, stored only when every file was read. Each input read is recorded as a source
// of the import that stores it (StoreWriter::RecordSource). Returns 0 when every file was
// read whole and each stored something, else 1; a file that stores nothing is told why in a
// line of its own ("nothing stored: ...").
int RunImport(const Importer& importer, const std::vector<std::string>& files, const ImportSettings& settings,
              const OpenWriter& openWriter, const RunConsole& console, const RunInputs& inputs = {});

// Why nothing of a file was stored ("nothing stored: ..."), or empty when something was.
std::string NothingStored(const Importer& importer, const ImportReport& report);

// What a read stored, as a source records it: records added, replaced, completed or summed.
std::int64_t StoredRecords(const ImportReport& report);

// A month of 30 days: pageview hours are scaled to it.
constexpr int kHoursPerMonth = 720;

}  // namespace quillet::services
