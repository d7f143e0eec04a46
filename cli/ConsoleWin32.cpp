#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>

#include "cli/Console.h"
#include "framework/Application.h"
#include "framework/IniFile.h"
#include "framework/Registry.h"

namespace quillet::cli {
namespace {

// Called by the system on a thread of its own.
std::atomic<int> gInterrupts{0};

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The second one goes on to the default handler, which ends the process.
  return ++gInterrupts == 1 ? TRUE : FALSE;
}

}  // namespace

void CatchInterrupt() { SetConsoleCtrlHandler(OnControl, TRUE); }

bool Interrupted() { return gInterrupts.load() > 0; }

bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void SetBinaryStdout() { _setmode(_fileno(stdout), _O_BINARY); }

void IgnoreFileSizeSignal() {}

std::optional<std::int64_t> RegularFileSize(std::FILE* stream) {
  struct _stat64 info {};
  if (_fstat64(_fileno(stream), &info) != 0 || !(info.st_mode & _S_IFREG)) return std::nullopt;
  return static_cast<std::int64_t>(info.st_size);
}

bool CutFile(std::FILE* stream, std::int64_t size) { return _chsize_s(_fileno(stream), size) == 0; }

char LocaleDecimalSeparator() { return win::LocaleDecimalSeparator(); }

char SpreadsheetListSeparator() {
  char buffer[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SLIST, buffer, sizeof buffer) == 2 && buffer[0] != '"' &&
      buffer[0] != '\r' && buffer[0] != '\n')
    return buffer[0];
  return ',';
}

std::optional<std::vector<IdeaEntry>> ReadIdeaListFile(const std::string& path) {
  const win::IniFile file(path);
  const DWORD attributes = GetFileAttributesA(file.Path().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
  std::vector<IdeaEntry> entries;
  ReadIdeaList(file, [&entries](IdeaEntry&& entry) { entries.push_back(std::move(entry)); });
  return entries;
}

std::string FoldedCase(std::string text) {
  if (!text.empty()) CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::optional<SearchSettings> StoredSearchSettings() {
  const win::RegistryKey key = win::RegistryKey::Open(HKEY_CURRENT_USER, kSetupKey);
  return ReadSearchSettings(key);
}

}  // namespace quillet::cli
