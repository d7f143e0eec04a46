#pragma once
// The kinds of data `import` reads, one row each: the reader, how the files of a run are
// stored, its options and a line of help. Dispatch, usage and error messages read this
// table. A new format is one file in services/import/readers/ and one row in Importers.cpp.
//
// A reader streams one input through the input layer into a StoreWriter, in bounded memory
// whatever the input holds. A record it cannot use is skipped and counted by reason in the
// report; it never costs the other records. It throws InputError when the input cannot be
// read, ImportInterrupted when progress says so, and whatever the store throws (a full
// disk). The caller commits the writer when the reader returns, and throws it away when it
// throws.
#include <string>
#include <string_view>
#include <vector>

#include "services/import/Input.h"
#include "services/import/Report.h"
#include "services/store/Store.h"

namespace quillet::services {

// Which position of a web-graph rank list becomes a host's traffic rank.
enum class RankBy { Harmonic, PageRank };

// What a reader may be told besides its input, and how a run is stored.
struct ImportSettings {
  RankBy rankBy = RankBy::Harmonic;  // hostranks
  std::string project = "en";        // pageviews: the project whose lines count
  int hours = 0;                     // pageviews: hours the run covers; 0: one per file
  std::int64_t top = 0;              // hostranks: only the first lines of a list sorted best first; 0: all
};

// How the files of one run are stored.
enum class RunKind {
  kEach,    // each file is an import of its own
  kSummed,  // one import: the files' counts are summed, then stored
  kHourly,  // as kSummed, the sums scaled from the hours the files cover to a month
};

using ReadInput = ImportReport (*)(StoreWriter& store, InputFile& input, const ImportSettings& settings,
                                   const ImportProgress& progress);

struct Importer {
  std::string_view kind;
  ReadInput read;
  RunKind run;
  std::string_view options;  // as usage shows them after the kind, or empty
  std::string_view help;     // what the files hold, in a line
};

// Every importer, in the order usage lists them.
const std::vector<Importer>& Importers();
// The importer of a kind, or null.
const Importer* FindImporter(std::string_view kind);

}  // namespace quillet::services
