#include "framework/AtomicFile.h"

#include <windows.h>

#include "framework/Handle.h"

namespace quillet::win {
namespace {

// Deletes the temporary file unless the move over the target has consumed it.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) DeleteFileA(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& Path() const { return path_; }
  void Committed() { path_.clear(); }

 private:
  std::string path_;
};

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 20) ? (1u << 20) : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  const size_t slash = path.find_last_of("\\/:");
  std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  char temporaryName[MAX_PATH] = {};
  if (!GetTempFileNameA(directory.c_str(), "qlc", 0, temporaryName)) return false;
  TemporaryFile temporary(temporaryName);
  {
    FileHandle file(CreateFileA(temporary.Path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (!WriteAll(file.get(), bytes) || !FlushFileBuffers(file.get())) return false;
  }
  if (!MoveFileExA(temporary.Path().c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return false;
  temporary.Committed();
  return true;
}

}  // namespace quillet::win
