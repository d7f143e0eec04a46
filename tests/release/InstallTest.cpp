// install_tests SETUP.EXE: the Windows installer in a fresh Wine prefix, as a user meets it.
// A silent install into a folder with a blank in its name; what it put there and registered;
// the data service started by the log-on entry's own command line; a category research in
// the installed program against it; a silent uninstall that keeps the user's idea list and
// the research database and removes everything else. The tests run in order, one install.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "research/IdeaList.h"
#include "tests/e2e/Driver.h"
#include "tests/release/Process.h"

namespace quillet::test {
namespace {

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kRunValue = L"Quillet data service";
constexpr const wchar_t* kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillet";
constexpr int kServicePort = 8790;

std::wstring gSetup;
std::string gVersion;

const std::vector<std::wstring> kInstalledFiles = {L"quillet.exe",
                                                   L"quillet-services.exe",
                                                   L"quillet-services-start.exe",
                                                   L"quillet-data.exe",
                                                   L"README.txt",
                                                   L"uninstall.exe",
                                                   L"licenses\\boost.txt",
                                                   L"licenses\\gcc-runtime.txt",
                                                   L"licenses\\libjpeg-turbo.txt",
                                                   L"licenses\\mingw-w64.txt",
                                                   L"licenses\\sqlite.txt",
                                                   L"licenses\\zlib.txt"};

std::wstring KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}
const std::wstring kInstallDir = KnownFolder(CSIDL_PROFILE) + L"\\My Apps\\Quillet";
const std::wstring kDataDir = KnownFolder(CSIDL_LOCAL_APPDATA) + L"\\Quillet";
const std::wstring kMenuDir = KnownFolder(CSIDL_PROGRAMS) + L"\\Quillet";

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A value of HKCU; nullopt-like empty with found=false when absent.
std::wstring RegistryText(const wchar_t* key, const wchar_t* value, bool* found) {
  wchar_t data[2048] = {};
  DWORD size = sizeof data;
  *found = RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_REG_SZ, nullptr, data, &size) == ERROR_SUCCESS;
  return data;
}

bool KeyExists(const wchar_t* key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

std::wstring ShortcutTarget(const std::wstring& link) {
  std::wstring target;
  IShellLinkW* shell = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&shell))))
    return target;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shell->GetPath(path, MAX_PATH, nullptr, 0)))
      target = path;
    file->Release();
  }
  shell->Release();
  return target;
}

// The FileVersion text of a program's version resource.
std::string FileVersion(const std::wstring& program) {
  DWORD ignored = 0;
  std::vector<char> data(GetFileVersionInfoSizeW(program.c_str(), &ignored));
  wchar_t* text = nullptr;
  UINT length = 0;
  if (data.empty() || !GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) ||
      !VerQueryValueW(data.data(), L"\\StringFileInfo\\040904E4\\FileVersion", reinterpret_cast<void**>(&text),
                      &length))
    return {};
  return Utf8Text(std::wstring(text, length > 0 ? length - 1 : 0));
}

// Whether the data service answers a traffic-rank request on its port.
bool ServiceAnswers(DWORD timeoutMs) {
  return FetchWhenUp(kServicePort, "/data/details/?url=www.example.com", timeoutMs).find("Site details") !=
         std::string::npos;
}

bool WaitUntil(DWORD timeoutMs, const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(250);
  }
  return true;
}

class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitialize(nullptr);
    // /D= comes last and unquoted, blanks and all.
    const DWORD start = GetTickCount();
    installed_ = RunToEnd(Quoted(gSetup) + L" /S /D=" + kInstallDir, 600000);
    std::printf("silent install: %.1f s\n", (GetTickCount() - start) / 1000.0);
  }
  static Finished installed_;
};
Finished Installed::installed_;

TEST_F(Installed, PutsTheFilesShortcutsAndEntriesInPlace) {
  ASSERT_EQ(installed_.exitCode, 0u) << installed_.output;
  for (const std::wstring& file : kInstalledFiles) EXPECT_TRUE(Exists(kInstallDir + L"\\" + file)) << Utf8Text(file);
  EXPECT_TRUE(Exists(kDataDir + L"\\research.db"));
  EXPECT_EQ(FileVersion(kInstallDir + L"\\quillet.exe"), gVersion);
  EXPECT_EQ(FileVersion(kInstallDir + L"\\quillet-services.exe"), gVersion);

  EXPECT_EQ(ShortcutTarget(kMenuDir + L"\\Quillet.lnk"), kInstallDir + L"\\quillet.exe");
  EXPECT_EQ(ShortcutTarget(kMenuDir + L"\\Quillet Data.lnk"), kInstallDir + L"\\quillet-data.exe");
  EXPECT_TRUE(Exists(kMenuDir + L"\\Quillet data folder.lnk"));

  bool found = false;
  EXPECT_EQ(RegistryText(kRunKey, kRunValue, &found),
            Quoted(kInstallDir + L"\\quillet-services-start.exe") + L" /logon");
  EXPECT_TRUE(found);
  EXPECT_EQ(RegistryText(kUninstallKey, L"DisplayVersion", &found), WideText(gVersion));
  EXPECT_EQ(RegistryText(kUninstallKey, L"UninstallString", &found), Quoted(kInstallDir + L"\\uninstall.exe"));
  EXPECT_EQ(RegistryText(kUninstallKey, L"InstallLocation", &found), kInstallDir);
}

TEST_F(Installed, LogOnEntryStartsTheDataServiceOnItsPort) {
  // The installer started one already: it must stop, so that the log-on entry's is the one
  // that answers.
  ASSERT_TRUE(ServiceAnswers(30000)) << "the installer did not start the data service";
  // What Quillet Data reads: the service runs, and the database holds the demo data alone.
  const std::wstring status = Quoted(kInstallDir + L"\\quillet-services.exe") + L" status --progress-lines";
  Finished running = RunToEnd(status, 60000);
  EXPECT_NE(running.output.find("service\trunning"), std::string::npos) << running.output;
  EXPECT_NE(running.output.find("userdata\t0"), std::string::npos) << running.output;
  Finished stopped = RunToEnd(Quoted(kInstallDir + L"\\quillet-services.exe") + L" stop", 60000);
  EXPECT_NE(stopped.output.find("1 data service stopped"), std::string::npos) << stopped.output;
  ASSERT_FALSE(ServiceAnswers(0));
  EXPECT_NE(RunToEnd(status, 60000).output.find("service\tstopped"), std::string::npos);

  bool found = false;
  std::wstring logOn = RegistryText(kRunKey, kRunValue, &found);
  ASSERT_TRUE(found);
  // A database "Restore demo data" kept aside goes at the next log-on.
  const std::wstring kept = kDataDir + L"\\research.db.before-demo";
  std::ofstream(std::filesystem::path(kept), std::ios::binary) << "an earlier database";
  Finished started = RunToEnd(logOn, 120000);
  EXPECT_EQ(started.exitCode, 0u) << "see " << Utf8Text(kDataDir) << "\\quillet-services.log";
  EXPECT_TRUE(ServiceAnswers(30000));
  EXPECT_FALSE(Exists(kept));
}

TEST_F(Installed, InstalledProgramResearchesTheDemoData) {
  Driver quillet;
  ASSERT_TRUE(quillet.Launch(Utf8Text(kInstallDir + L"\\quillet.exe"), {}));
  ASSERT_TRUE(quillet.WaitForMainWindow());
  quillet.SetText(quillet.Find("Edit"), "dog training");
  quillet.Click(quillet.Find("Button", "Start"));
  ASSERT_TRUE(quillet.WaitForStatus("Done!", 300000));
  HWND list = quillet.Find("SysListView32");
  auto rows = quillet.Rows(list, 4);
  ASSERT_GE(rows.size(), 3u);
  int supplied = 0;
  for (const auto& row : rows) {
    EXPECT_NE(row[0].find("dog training"), std::string::npos) << row[0];
    EXPECT_GT(std::atoll(row[1].c_str()), 0) << row[1];  // Demand
    if (std::atoll(row[2].c_str()) > 0) ++supplied;      // Supply: pages that carry the term
  }
  EXPECT_GT(supplied, 0);
  EXPECT_EQ(quillet.CloseAndWait(), 0u);
}

FILETIME LastWrite(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

TEST_F(Installed, InstallingAgainClosesQuilletRestartsTheServiceAndKeepsTheData) {
  const FILETIME before = LastWrite(kDataDir + L"\\research.db");
  Driver quillet;
  ASSERT_TRUE(quillet.Launch(Utf8Text(kInstallDir + L"\\quillet.exe"), {}));
  ASSERT_TRUE(quillet.WaitForMainWindow());
  ASSERT_TRUE(ServiceAnswers(0));

  // Both programs hold files that the installer replaces.
  Finished again = RunToEnd(Quoted(gSetup) + L" /S /D=" + kInstallDir, 600000);
  EXPECT_EQ(again.exitCode, 0u) << again.output;
  EXPECT_EQ(WaitForSingleObject(quillet.Process(), 0), WAIT_OBJECT_0) << "Quillet was not closed";
  EXPECT_TRUE(ServiceAnswers(30000));
  const FILETIME after = LastWrite(kDataDir + L"\\research.db");
  EXPECT_EQ(CompareFileTime(&before, &after), 0) << "the research database was built again";
}

TEST_F(Installed, SilentUninstallRemovesWhatItInstalledAndNothingElse) {
  // An idea list saved where the file dialog opens: the program folder.
  const std::wstring ideas = kInstallDir + L"\\my ideas.qlc";
  std::ofstream(std::filesystem::path(ideas), std::ios::binary) << IdeaListText({{"dog training collars", "1234.5"}});

  Process uninstall(Quoted(kInstallDir + L"\\uninstall.exe") + L" /S");
  ASSERT_TRUE(uninstall.Started());
  // The uninstaller runs on from a copy in the temporary folder: its work ends with its own file.
  ASSERT_TRUE(WaitUntil(120000, [] { return !Exists(kInstallDir + L"\\uninstall.exe") && !KeyExists(kUninstallKey); }));

  for (const std::wstring& file : kInstalledFiles) EXPECT_FALSE(Exists(kInstallDir + L"\\" + file)) << Utf8Text(file);
  EXPECT_FALSE(Exists(kInstallDir + L"\\licenses"));
  EXPECT_TRUE(Exists(ideas));
  EXPECT_FALSE(Exists(kMenuDir));
  bool found = true;
  RegistryText(kRunKey, kRunValue, &found);
  EXPECT_FALSE(found);
  EXPECT_FALSE(ServiceAnswers(0));
  // Silent: the research database is kept.
  EXPECT_TRUE(Exists(kDataDir + L"\\research.db"));
}

}  // namespace
}  // namespace quillet::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: install_tests SETUP.EXE VERSION\n");
    return 2;
  }
  quillet::test::gSetup = quillet::test::WideText(argv[1]);
  quillet::test::gVersion = argv[2];
  return RUN_ALL_TESTS();
}
