// Keyword exports: CSV with ',', ';' or tab, a header naming a term column and a search
// volume column among the first lines (keyword planners and the common keyword tools, in
// their export languages), or two plain columns, term then count.
#include <algorithm>
#include <vector>

#include "services/import/Importers.h"
#include "services/import/ReaderKit.h"
#include "services/text/Keys.h"
#include "services/text/Strings.h"

namespace quillet::services {
namespace {

// Headings, case folded, most specific first: "keyword" before "query", the planner's volume
// before the other tools' names. The planner's export languages: English, Spanish, French,
// Portuguese, German, Japanese.
constexpr std::string_view kTermHeadings[] = {
    "keyword",       "keywords",
    "query",         "search term",
    "search query",  "term",
    "palabra clave", "mot cl\xC3\xA9",
    "palavra-chave", "\xE3\x82\xAD\xE3\x83\xBC\xE3\x83\xAF\xE3\x83\xBC\xE3\x83\x89"};
constexpr std::string_view kVolumeHeadings[] = {
    "avg. monthly searches",
    "avg. monthly searches (exact match only)",
    "promedio de b\xC3\xBAsquedas mensuales",
    "nombre moyen de recherches mensuelles",
    "m\xC3\xA9"
    "dia de pesquisas mensais",
    "durchschn. suchanfragen pro monat",
    "\xE6\x9C\x88\xE9\x96\x93\xE5\xB9\xB3\xE5\x9D\x87\xE6\xA4\x9C\xE7\xB4\xA2\xE3\x83\x9C\xE3\x83\xAA\xE3\x83\xA5"
    "\xE3\x83\xBC\xE3\x83\xA0",
    "search volume",
    "volume",
    "monthly volume",
    "searches"};

std::string AcceptedHeadings() {
  return "term column Keyword, Query, Search term, Term, Palabra clave, Mot cl\xC3\xA9, Palavra-chave, "
         "\xE3\x82\xAD\xE3\x83\xBC\xE3\x83\xAF\xE3\x83\xBC\xE3\x83\x89; volume column Avg. monthly searches (or the "
         "planner's name for it in Spanish, French, Portuguese, German, Japanese), Search volume, Volume, Monthly "
         "volume, Searches";
}

void ImportKeywordLine(StoreWriter& store, const ColumnLayout& layout, std::int64_t number, std::string_view line,
                       ImportReport& report) {
  ++report.lines;
  auto fields = SplitFields(line, layout.separator);
  if (!fields) {
    report.Skip(number, skip::kTooManyFields, "over " + std::to_string(limits::kMaxFields));
    return;
  }
  if (fields->size() <= std::max(layout.first, layout.second)) {
    report.Skip(number, skip::kTooFewColumns);
    return;
  }
  std::string why;
  std::optional<std::string> term = NormalizeTerm((*fields)[layout.first], &why);
  if (!term) {
    report.Skip(number, why);
    return;
  }
  const std::string& volumeText = (*fields)[layout.second];
  if (IsBlankVolume(volumeText)) {
    report.Skip(number, skip::kNoVolume, Quoted(*term));
    return;
  }
  std::optional<Volume> volume = ParseVolume(volumeText);
  if (!volume) {
    report.Skip(number, skip::kSearchCount, Quoted(Trim(volumeText)));
    return;
  }
  if (volume->range) ++report.ranges;
  report.Count(store.PutKeyword(*term, volume->searches));
}

// Whether a line reads as the two plain columns of a file without header: a term and a count.
bool PlainPair(std::string_view line) {
  auto fields = SplitFields(line, HeaderSeparator(line));
  return fields && fields->size() >= 2 && ParseVolume((*fields)[1]);
}

}  // namespace

bool IsKeywordsHeader(std::string_view line) { return FindColumns(line, kTermHeadings, kVolumeHeadings).has_value(); }

ImportReport ReadKeywords(StoreWriter& target, InputFile& input, const ImportSettings&,
                          const ImportProgress& progress) {
  ImportReport report;
  ImportLines lines(input, target, limits::kMaxTableLine, report, progress);
  StoreWriter& store = lines.Store();
  // The header, if any, is among the first lines; until it is found they are held back.
  struct Held {
    std::int64_t number, end;
    std::string line;
  };
  std::vector<Held> held;
  std::optional<ColumnLayout> layout;
  std::string_view line;
  while (!layout && held.size() < kHeaderSearchLines && lines.Next(&line)) {
    layout = FindColumns(line, kTermHeadings, kVolumeHeadings);
    if (!layout) held.push_back({lines.Number(), lines.Position(), std::string(line)});
  }
  if (layout) {
    held.clear();  // title lines above the header
  } else if (std::any_of(held.begin(), held.end(), [](const Held& h) { return PlainPair(h.line); })) {
    layout = ColumnLayout{HeaderSeparator(held.front().line), 0, 1};
  } else {
    // No header and no line of two plain columns: no line can be read. The file is named as
    // a whole, with what the reader looks for and what it found.
    std::int64_t count = static_cast<std::int64_t>(held.size());
    while (lines.Next(&line)) ++count;
    if (count > 0) {
      report.lines += count;
      report.skipped[std::string(skip::kNoKeywordHeader)] += count;
      report.examples.push_back("line " + std::to_string(held.front().number) + ": " +
                                std::string(skip::kNoKeywordHeader) + " (the reader takes a " + AcceptedHeadings() +
                                "; the file's first line is " + Quoted(held.front().line) + ")");
    }
    lines.Finish();
    return report;
  }
  for (const Held& h : held) {
    lines.SetRecordEnd(h.end);
    ImportKeywordLine(store, *layout, h.number, h.line, report);
  }
  char separator = layout->separator;
  while (lines.NextRecord(&line, &separator)) ImportKeywordLine(store, *layout, lines.Number(), line, report);
  lines.Finish();
  return report;
}

}  // namespace quillet::services
