#include "services/Import.h"

#include "services/Pages.h"
#include "services/readers/ReaderKit.h"

namespace quillet::services {

void ImportReport::Skip(std::int64_t line, const std::string& reason, std::string_view detail) {
  ++skipped[reason];
  if (examples.size() < kMaxExamples) {
    std::string example = unit + " " + std::to_string(line) + ": " + reason;
    if (!detail.empty()) example += " (" + std::string(detail) + ")";
    examples.push_back(std::move(example));
  }
}

std::int64_t ImportReport::Skipped() const {
  std::int64_t total = 0;
  for (const auto& [reason, count] : skipped) total += count;
  return total;
}

bool ImportReport::NothingStored() const {
  auto repeated = skipped.find("address already stored");
  std::int64_t alreadyThere = repeated == skipped.end() ? 0 : repeated->second;
  return lines > alreadyThere && added + replaced + updated + summed == 0;
}

std::string ImportReport::Describe() const {
  std::string out = WithThousands(lines) + " " + unit + "s: ";
  if (sums) {
    out += WithThousands(summed) + " summed";
  } else {
    out += WithThousands(added + replaced + updated) + " imported (" + WithThousands(added) + " added, ";
    if (updated > 0) out += WithThousands(updated) + " updated, ";
    out += WithThousands(replaced) + " replaced)";
  }
  out += ", " + WithThousands(Skipped()) + " skipped";
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
  if (!damage.empty()) out += "\n  the file ends early: " + damage + "; the " + unit + "s before it were read";
  return out;
}

std::optional<std::vector<std::string>> SplitFields(std::string_view line, char separator, size_t maxFields) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"' && Trim(fields.back()).empty()) {
      fields.back().clear();
      quoted = true;
    } else if (c == separator) {
      if (fields.size() == maxFields) return std::nullopt;
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace quillet::services
