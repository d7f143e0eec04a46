#include "services/import/Run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "protocol/Format.h"
#include "services/import/Warc.h"
#include "services/text/Strings.h"

namespace quillet::services {
namespace {

class Stopwatch {
 public:
  double Seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

std::string Format(const char* format, double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, format, seconds);
  return text;
}

std::string Explain(const RunConsole& console, const std::exception& error) {
  return console.explain ? console.explain(error) : error.what();
}

ImportReport ReadFile(const Importer& importer, StoreWriter& writer, const std::string& file,
                      const ImportSettings& settings, const RunConsole& console, const RunInputs& inputs) {
  InputFile input(inputs.open(file));
  ImportReport report =
      importer.read(writer, input, settings, console.progress ? console.progress(file) : ImportProgress());
  if (inputs.check) inputs.check(input, report);
  writer.RecordSource({inputs.address(file),
                       std::string(importer.kind),
                       input.Consumed(),
                       StoredRecords(report),
                       report.stoppedAt,
                       {},
                       0});
  return report;
}

std::string Done(const std::string& file, const ImportReport& report, const Stopwatch& clock) {
  return file + ": " + report.Describe() + Format(" (%.1f s)", clock.Seconds());
}

}  // namespace

// What a crawl archive that stores nothing most likely is instead, by the type of the records
// the reader left out of it.
struct Mistaken {
  std::string_view kind, leftOutType, hint;
};
constexpr Mistaken kMistaken[] = {
    {"wet", "metadata", "a WAT file given to import wet?"},
    {"wat", "conversion", "a WET file given to import wat?"},
    {"wet", "response", "a WARC file of the crawl itself? import wet takes its WET files"},
    {"wat", "response", "a WARC file of the crawl itself? import wat takes its WAT files"},
};

std::string NothingStored(const Importer& importer, const ImportReport& report) {
  if (!report.NothingStored()) return {};
  const std::string wanted = report.wanted.empty() ? report.unit + "s" : report.wanted;
  std::string why;
  if (report.rolledBack > 0) {
    why = WithThousands(report.lines) + " " + report.unit + "s, " + WithThousands(report.rolledBack) +
          " of them from a damaged compressed member";
  } else if (report.lines > 0) {
    auto most = std::max_element(report.skipped.begin(), report.skipped.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    why = "all " + WithThousands(report.lines) + " " + report.unit + "s skipped";
    if (most != report.skipped.end()) why += ", " + WithThousands(most->second) + " for " + most->first;
  } else if (report.leftOut.empty()) {
    why = "the file holds no " + wanted;
  } else {
    why = "0 " + wanted + " (left out:";
    const char* separator = " ";
    for (const auto& [kind, count] : report.leftOut) {
      why += separator + WithThousands(count) + " " + kind;
      separator = ", ";
    }
    why += ")";
    for (const Mistaken& mistaken : kMistaken)
      if (importer.kind == mistaken.kind && report.leftOut.count(RecordsOfType(mistaken.leftOutType))) {
        why += "; " + std::string(mistaken.hint);
        break;
      }
  }
  return "nothing stored: " + why;
}

namespace {

// A file's summary, and whether it fails the run: nothing stored, or a damaged input.
bool Said(const RunConsole& console, const Importer& importer, const std::string& file, const ImportReport& report,
          const Stopwatch& clock) {
  console.said(Done(file, report, clock));
  std::string nothing = NothingStored(importer, report);
  if (!nothing.empty()) console.failed(file + ": " + nothing);
  return !nothing.empty() || !report.damage.empty();
}

int ImportEach(const Importer& importer, const std::vector<std::string>& files, const ImportSettings& settings,
               const OpenWriter& openWriter, const RunConsole& console, const RunInputs& inputs) {
  int status = 0;
  for (const std::string& file : files) {
    Stopwatch clock;
    try {
      std::unique_ptr<StoreWriter> writer = openWriter();
      ImportReport report = ReadFile(importer, *writer, file, settings, console, inputs);
      writer->Commit();
      if (Said(console, importer, file, report, clock)) status = 1;
    } catch (const std::exception& error) {
      const char* what = dynamic_cast<const InputError*>(&error) ? "could not be read" : "failed";
      console.failed(file + ": import " + what + ", nothing of it was stored: " + Explain(console, error));
      status = 1;
    }
  }
  return status;
}

int ImportSummed(const Importer& importer, const std::vector<std::string>& files, const ImportSettings& settings,
                 const OpenWriter& openWriter, const RunConsole& console, const RunInputs& inputs) {
  const bool hourly = importer.run == RunKind::kHourly;
  const std::int64_t hours = settings.hours > 0 ? settings.hours : static_cast<std::int64_t>(files.size());
  Stopwatch run;
  std::string current;
  try {
    std::unique_ptr<StoreWriter> writer = openWriter();
    int status = 0;
    for (const std::string& file : files) {
      current = file;
      Stopwatch clock;
      ImportReport report = ReadFile(importer, *writer, file, settings, console, inputs);
      if (Said(console, importer, file, report, clock)) status = 1;
    }
    current.clear();
    TallyResult stored = hourly ? writer->StoreTally(kHoursPerMonth, hours) : writer->StoreTally(1, 1);
    writer->Commit();
    console.said(protocol::Counted(static_cast<std::int64_t>(files.size()), "file") +
                 (hourly ? " covering " + protocol::Counted(hours, "hour") + ", scaled to a month" : "") + ": " +
                 WithThousands(stored.added + stored.replaced) + " terms stored (" + WithThousands(stored.added) +
                 " added, " + WithThousands(stored.replaced) + " replaced)" + Format(" in %.1f s", run.Seconds()));
    return status;
  } catch (const std::exception& error) {
    const char* what = !current.empty() && dynamic_cast<const InputError*>(&error) ? "could not be read" : "failed";
    console.failed((current.empty() ? "the run" : current) + ": import " + what +
                   "; nothing of this run was stored: " + Explain(console, error));
    return 1;
  }
}

}  // namespace

int RunImport(const Importer& importer, const std::vector<std::string>& files, const ImportSettings& settings,
              const OpenWriter& openWriter, const RunConsole& console, const RunInputs& inputs) {
  return importer.run == RunKind::kEach ? ImportEach(importer, files, settings, openWriter, console, inputs)
                                        : ImportSummed(importer, files, settings, openWriter, console, inputs);
}

std::int64_t StoredRecords(const ImportReport& report) {
  return report.added + report.replaced + report.updated + report.summed;
}

}  // namespace quillet::services
