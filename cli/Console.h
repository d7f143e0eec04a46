#pragma once
// What quillet-research needs of the system it runs on: ConsolePosix.cpp for Linux,
// ConsoleWin32.cpp for Windows, where it uses the program's own framework.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "research/IdeaList.h"
#include "research/SearchSettings.h"

namespace quillet::cli {

// From now on the first Ctrl-C (on Windows also Ctrl-Break) only asks the run to stop; a
// second one ends the process as usual. Interrupted() tells whether it was pressed. The flag
// is the one piece of process-wide state: the system calls the handler, not the program.
void CatchInterrupt();
bool Interrupted();

bool StderrIsTerminal();

// Standard output takes the bytes unchanged (on Windows no CR is put before LF).
void SetBinaryStdout();

// From now on a write past the file-size limit fails (EFBIG), to be reported as a full disk
// is, rather than ending the process with SIGXFSZ. Windows has no such limit.
void IgnoreFileSizeSignal();

// The size of the file that stream writes to; none when it is not a regular file (a pipe,
// a terminal, a device).
std::optional<std::int64_t> RegularFileSize(std::FILE* stream);
// Cuts that file back to size bytes; false when it cannot.
bool CutFile(std::FILE* stream, std::int64_t size);

// The decimal separator of the user's locale, which Profitability is written with, as the
// program does.
char LocaleDecimalSeparator();

// The separator that the spreadsheet of this computer expects between CSV fields: on Windows
// the list separator of the user's locale; elsewhere ',' unless the locale writes decimals
// with ',', then ';'.
char SpreadsheetListSeparator();

// The entries of an idea list file, read as the program reads it; nothing when the file
// cannot be read at all (the program would show an empty list).
std::optional<std::vector<IdeaEntry>> ReadIdeaListFile(const std::string& path);

// The text compared without regard to letter case, as the program's category box compares.
std::string FoldedCase(std::string text);

// The affiliate search's settings as the program has stored them for this user; nothing
// where the system keeps none (not on Windows).
std::optional<SearchSettings> StoredSearchSettings();

}  // namespace quillet::cli
