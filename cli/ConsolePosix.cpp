#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "cli/Console.h"
#include "research/IniProfile.h"

namespace quillet::cli {
namespace {

volatile sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) { gInterrupted = 1; }

}  // namespace

void CatchInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Once caught, the next one is the default again: it ends the process.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() { return gInterrupted != 0; }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void SetBinaryStdout() {}

void IgnoreFileSizeSignal() { signal(SIGXFSZ, SIG_IGN); }

std::optional<std::int64_t> RegularFileSize(std::FILE* stream) {
  struct stat info {};
  if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(info.st_size);
}

bool CutFile(std::FILE* stream, std::int64_t size) { return ftruncate(fileno(stream), static_cast<off_t>(size)) == 0; }

char LocaleDecimalSeparator() {
  // The user's locale asked for directly, so that the process itself stays in "C".
  const locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (!user) return '.';
  const char* point = nl_langinfo_l(RADIXCHAR, user);
  const char separator = point && std::strlen(point) == 1 ? point[0] : '.';
  freelocale(user);
  return separator;
}

char SpreadsheetListSeparator() { return LocaleDecimalSeparator() == ',' ? ';' : ','; }

std::optional<std::vector<IdeaEntry>> ReadIdeaListFile(const std::string& path) {
  bool readable = false;
  const IniProfile file = IniProfile::FromFile(path, &readable);
  if (!readable) return std::nullopt;
  std::vector<IdeaEntry> entries;
  ReadIdeaList(file, [&entries](IdeaEntry&& entry) { entries.push_back(std::move(entry)); });
  return entries;
}

std::string FoldedCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::optional<SearchSettings> StoredSearchSettings() { return std::nullopt; }

}  // namespace quillet::cli
