#pragma once
// Replacing a file's contents so that a failure at any point leaves the old file as it was:
// the bytes go to a new file beside the target, which is flushed and then moved over the
// target in one step.
#include <string>
#include <string_view>

namespace quillet::win {

// True when path now holds exactly bytes. On false the target is untouched and the
// temporary file is gone.
bool ReplaceFileContents(const std::string& path, std::string_view bytes);

}  // namespace quillet::win
