#include "services/import/Report.h"

#include "protocol/Format.h"
#include "services/Limits.h"
#include "services/text/Strings.h"
#include "services/text/Utf8.h"

namespace quillet::services {
namespace {

constexpr std::size_t kMaxDetail = 120;

}  // namespace

std::string skip::TooManyHeaderLines() {
  return "more than " + std::to_string(limits::kMaxWarcHeaderLines) + " header lines";
}

std::string skip::HeaderWithout(std::string_view rankHeading) {
  return "header without " + std::string(rankHeading) + " and #host_rev";
}

std::string skip::InUrl(std::string_view problem) { return std::string(problem) + " in url"; }

std::string Quoted(std::string_view text) {
  return "\"" + RepairText(text.substr(0, kMaxDetail)) + (text.size() > kMaxDetail ? "...\"" : "\"");
}

void ImportReport::Skip(std::int64_t line, std::string_view reason, std::string_view detail) {
  ++skipped[std::string(reason)];
  if (examples.size() < kMaxExamples) {
    std::string example = unit + " " + std::to_string(line) + ": " + std::string(reason);
    if (!detail.empty()) example += " (" + std::string(detail) + ")";
    examples.push_back(std::move(example));
  }
}

std::int64_t ImportReport::Skipped() const {
  std::int64_t total = 0;
  for (const auto& [reason, count] : skipped) total += count;
  return total;
}

void ImportReport::AlreadyStored(std::int64_t line, std::string_view url) {
  ++alreadyStored;
  Skip(line, skip::kAlreadyStored, Quoted(url));
}

void ImportReport::Count(StoreWriter::Put put) {
  switch (put) {
    case StoreWriter::Put::Added: ++added; break;
    case StoreWriter::Put::Replaced: ++replaced; break;
    case StoreWriter::Put::Kept: ++kept; break;
  }
}

void ImportReport::TakeBack(const ImportReport& other) {
  added -= other.added;
  replaced -= other.replaced;
  kept -= other.kept;
  updated -= other.updated;
  summed -= other.summed;
  alreadyStored -= other.alreadyStored;
  if (other.alreadyStored > 0) {
    auto it = skipped.find(std::string(skip::kAlreadyStored));
    if (it != skipped.end() && (it->second -= other.alreadyStored) <= 0) skipped.erase(it);
  }
  rolledBack += other.added + other.replaced + other.kept + other.updated + other.summed + other.alreadyStored;
}

bool ImportReport::NothingStored() const { return added + replaced + kept + updated + summed + alreadyStored == 0; }

std::string ImportReport::Describe() const {
  std::string out = protocol::Counted(lines, unit) + ": ";
  if (sums) {
    out += WithThousands(summed) + " summed";
  } else {
    out += WithThousands(added + replaced + kept + updated) + " imported (" + WithThousands(added) + " added, ";
    if (updated > 0) out += WithThousands(updated) + " updated, ";
    out += WithThousands(replaced) + " replaced";
    if (kept > 0) out += ", " + WithThousands(kept) + " ranked better by an earlier line";
    out += ")";
  }
  out += ", " + WithThousands(Skipped()) + " skipped";
  if (ranges > 0) out += "; " + WithThousands(ranges) + " volumes were ranges, stored as their middle";
  auto counts = [&](const char* heading, const std::map<std::string, std::int64_t>& byKind) {
    if (byKind.empty()) return;
    out += std::string("\n  ") + heading + ":";
    const char* separator = " ";
    for (const auto& [kind, count] : byKind) {
      out += separator + WithThousands(count) + " " + kind;
      separator = ", ";
    }
  };
  counts("skipped", skipped);
  counts("left out", leftOut);
  for (const std::string& example : examples) out += "\n  " + example;
  if (Skipped() > static_cast<std::int64_t>(examples.size()))
    out += "\n  ... and " + WithThousands(Skipped() - static_cast<std::int64_t>(examples.size())) + " more";
  if (linksDropped > 0) out += "\n  " + WithThousands(linksDropped) + " links to unusable addresses left out";
  for (const std::string& warning : warnings) out += "\n  warning: " + warning;
  if (rolledBack > 0)
    out += "\n  the file is damaged: " + damage + "; " + WithThousands(rolledBack) + " " + unit +
           "s read from the damaged compressed member were not stored, those of earlier members were";
  else if (!damage.empty()) out += "\n  the file ends early: " + damage + "; the " + unit + "s before it were read";
  return out;
}

}  // namespace quillet::services
