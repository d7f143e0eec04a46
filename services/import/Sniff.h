#pragma once
// The kind of data a file holds, told from its first lines, for people who pick files without
// saying what they are ("Import files..." of the Quillet Data window, `import auto`).
#include <string>

#include "services/import/Input.h"

namespace quillet::services {

// The importer's kind (wat, wet, pages, hostranks, gsc, keywords, ranks, pageviews) whose
// files begin as this input does, or empty when none does. Reads at most the first 256
// lines (each at most limits::kMaxTableLine long) of the input's content.
std::string KindOfContent(InputFile& input);

}  // namespace quillet::services
