#include "services/import/Sniff.h"

#include <vector>

#include "services/Limits.h"
#include "services/import/ReaderKit.h"
#include "services/text/Strings.h"

namespace quillet::services {

// The header lines the readers of exports know, in every language they read (their files).
bool IsKeywordsHeader(std::string_view line);
bool IsSearchConsoleHeader(std::string_view line);
namespace {

// Far enough into an archive to pass its description (warcinfo) to the first record.
constexpr int kLinesLookedAt = 256;

bool Number(std::string_view field) {
  return ParseCount(Trim(field), limits::kMaxDemandTotal).has_value() && !Trim(field).empty();
}

// The kind of a line of data (after any header): its fields tell.
std::string KindOfLine(std::string_view line) {
  if (auto spaced = SplitFields(line, ' ');
      spaced && spaced->size() == 4 && Number((*spaced)[2]) && Number((*spaced)[3]))
    return "pageviews";
  for (char separator : {',', '\t'}) {
    auto fields = SplitFields(line, separator);
    if (!fields || fields->size() != 2) continue;
    if (Number((*fields)[0]) && !Number((*fields)[1])) return "ranks";
    if (Number((*fields)[1])) return "keywords";
  }
  return {};
}

}  // namespace

std::string KindOfContent(InputFile& input) {
  LineReader lines(input, limits::kMaxTableLine);
  std::string_view line;
  bool archive = false;
  for (int looked = 0; looked < kLinesLookedAt; ++looked) {
    LineReader::Result result = lines.Next(&line);
    if (result == LineReader::Result::End) break;
    if (result == LineReader::Result::TooLong || Trim(line).empty()) continue;
    if (archive) {
      // Every archive opens with its description: the first record after it tells.
      if (line.rfind("WARC-Type: conversion", 0) == 0) return "wet";
      if (line.rfind("WARC-Type: metadata", 0) == 0) return "wat";
      continue;
    }
    if (line.rfind("WARC/1.", 0) == 0) {
      archive = true;
      continue;
    }
    if (line.front() == '{') return "pages";
    const std::string lower = Lower(line);
    if (lower.front() == '#' && lower.find("host_rev") != std::string::npos) return "hostranks";
    if (IsSearchConsoleHeader(line)) return "gsc";
    if (IsKeywordsHeader(line)) return "keywords";
    if (Trim(lower) == "rank,domain") return "ranks";
    // Keyword exports may open with report titles; anything else says what it is at once.
    if (std::string kind = KindOfLine(line); !kind.empty()) return kind;
    if (looked >= static_cast<int>(kHeaderSearchLines)) break;
  }
  return {};
}

}  // namespace quillet::services
