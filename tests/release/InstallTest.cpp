// install_tests SETUP.EXE VERSION ZIP-FOLDER SIGNER-SHA1 TOC.HHC: the Windows release in a fresh
// Wine prefix, as a user meets it. A silent install into a folder with a blank in its name;
// what it put there and registered, and its signatures; the data service started by the
// log-on entry's own command line; a category research in the installed program and in its
// command-line research against it; a silent uninstall that keeps the user's idea list, the
// research database and the settings and removes everything else. Then, by hand, with real
// keys and clicks: the first start of the zip copy; an install whose demo build fails, and one
// whose build shows its steps; Help > Contents; an uninstall that removes the database and the
// settings. The tests run in order, on one prefix.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shobjidl.h>
// After windows.h:
#include <commctrl.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "research/IdeaList.h"
#include "tests/e2e/Driver.h"
#include "tests/release/ForeignWindow.h"
#include "tests/release/Process.h"

namespace quillet::test {
namespace {

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kRunValue = L"Quillet data service";
constexpr const wchar_t* kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillet";
constexpr const wchar_t* kSettingsKey = L"Software\\Orvane\\Quillet1\\Setup";
constexpr int kServicePort = 8790;

std::wstring gSetup;
std::string gVersion;
std::wstring gZipFolder;  // the zip file, unpacked
std::string gSigner;      // SHA-1 thumbprint of the test certificate that signed the release
std::wstring gContents;   // the help's table of contents as the build wrote it (toc.hhc)

const std::vector<std::wstring> kInstalledFiles = {L"quillet.exe",
                                                   L"quillet-research.exe",
                                                   L"quillet-services.exe",
                                                   L"quillet-services-start.exe",
                                                   L"quillet-data.exe",
                                                   L"README.txt",
                                                   L"help.chm",
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

struct Shortcut {
  std::wstring target;
  std::wstring folder;  // the working directory the program starts in
};

Shortcut ReadShortcut(const std::wstring& link) {
  Shortcut shortcut;
  IShellLinkW* shell = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&shell))))
    return shortcut;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t path[MAX_PATH] = {}, folder[MAX_PATH] = {};
    if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shell->GetPath(path, MAX_PATH, nullptr, 0)) &&
        SUCCEEDED(shell->GetWorkingDirectory(folder, MAX_PATH)))
      shortcut = {path, folder};
    file->Release();
  }
  shell->Release();
  return shortcut;
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

// The SHA-1 thumbprint (lower-case hex) of the certificate that signed a file, when its
// Authenticode signature checks out: the file is as it was signed. Empty otherwise. Wine checks
// the digest and the signature but not whether the root is trusted, so the chain up to the
// test CA is checked by osslsigncode, in install-test.
std::string VerifiedSigner(const std::wstring& file) {
  WINTRUST_FILE_INFO info{};
  info.cbStruct = sizeof info;
  info.pcwszFilePath = file.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  std::string signer;
  if (WinVerifyTrust(nullptr, &action, &data) == ERROR_SUCCESS) {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* sgnr = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* certificate = sgnr ? WTHelperGetProvCertFromChain(sgnr, 0) : nullptr;
    BYTE hash[20] = {};
    DWORD size = sizeof hash;
    if (certificate && CertGetCertificateContextProperty(certificate->pCert, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
      for (DWORD i = 0; i < size; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", hash[i]);
        signer += hex;
      }
    }
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(nullptr, &action, &data);
  return signer;
}

std::string FileText(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The settings as Quillet's Settings... dialog stores them.
void StoreSettings() {
  HKEY setup = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &setup, nullptr),
            ERROR_SUCCESS);
  const DWORD skip = 0, results = 20;
  RegSetValueExW(setup, L"skip", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&skip), sizeof skip);
  RegSetValueExW(setup, L"results", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&results), sizeof results);
  RegCloseKey(setup);
}

// The lines of the demo build: "pages N of 240000" for every ten thousand pages, in order,
// each a line of its own, and nothing run together.
void ExpectOneLinePerStep(const std::vector<std::string>& lines) {
  std::vector<std::string> steps;
  for (const std::string& line : lines) {
    if (line.find("pages ") == std::string::npos) continue;
    EXPECT_EQ(line.find("pages ", line.find("pages ") + 1), std::string::npos) << "run together: " << line;
    if (line.rfind("pages ", 0) == 0) steps.push_back(line);
  }
  ASSERT_EQ(steps.size(), 24u);
  for (std::size_t i = 0; i < steps.size(); ++i)
    EXPECT_EQ(steps[i], "pages " + std::to_string((i + 1) * 10000) + " of 240000");
  const auto writing = std::find(lines.begin(), lines.end(), "writing traffic ranks and the search index");
  ASSERT_NE(writing, lines.end());
  EXPECT_NE(writing[-1].find("pages 240000 of 240000"), std::string::npos);
}

// What an install by hand showed: the installer's details once its work was done, the
// positions its progress bar took meanwhile, and the texts of its last page.
struct InstallByHand {
  std::vector<std::string> details;
  std::set<int> bar;
  std::string finishPage;
  DWORD exitCode = STILL_ACTIVE;
};

// Runs the setup as a user does: Enter on the folder page (the folder given by /D=), waits
// with the details in view until the work is done, Enter, unticks "Start Quillet", Enter.
InstallByHand RunSetupByHand() {
  InstallByHand run;
  Process setup(Quoted(gSetup) + L" /D=" + kInstallDir);
  HWND wizard = WaitForTopWindow(L"#32770", L"Quillet " + WideText(gVersion) + L" Setup", 60000);
  if (!wizard || !BringToFront(wizard)) return run;
  PressKeys({{VK_RETURN}});
  HWND next = GetDlgItem(wizard, IDOK);
  WaitFor(600000, [&] {
    HWND bar = FindDescendant(wizard, L"msctls_progress32");
    if (bar) run.bar.insert(static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)));
    return FindDescendant(wizard, L"SysListView32") && IsWindowEnabled(next);
  });
  for (const std::wstring& line : ListViewItems(FindDescendant(wizard, L"SysListView32")))
    run.details.push_back(Utf8Text(line));
  BringToFront(wizard);
  PressKeys({{VK_RETURN}});
  HWND startQuillet = nullptr;
  WaitFor(30000, [&] {
    startQuillet = FindWindowExW(FindDescendant(wizard, L"#32770"), nullptr, L"Button", L"Start Quillet");
    return startQuillet != nullptr;
  });
  for (const std::wstring& text : DescendantTexts(wizard)) run.finishPage += Utf8Text(text) + "\n";
  SendMessageW(startQuillet, BM_SETCHECK, BST_UNCHECKED, 0);
  BringToFront(wizard);
  PressKeys({{VK_RETURN}});
  run.exitCode = setup.Wait(60000).exitCode;
  return run;
}

// The names of the table of contents, in order, as the help's build wrote them.
std::vector<std::wstring> ContentsNames() {
  std::vector<std::wstring> names;
  const std::string toc = FileText(gContents);
  const std::regex name(R"re(<param name="Name" value="([^"]*)">)re");
  for (auto it = std::sregex_iterator(toc.begin(), toc.end(), name); it != std::sregex_iterator(); ++it)
    names.push_back(WideText((*it)[1]));
  return names;
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
  EXPECT_EQ(FileVersion(kInstallDir + L"\\quillet-research.exe"), gVersion);

  // Started in its own folder, Quillet finds help.chm by its bare name.
  const Shortcut quillet = ReadShortcut(kMenuDir + L"\\Quillet.lnk");
  EXPECT_EQ(quillet.target, kInstallDir + L"\\quillet.exe");
  EXPECT_EQ(quillet.folder, kInstallDir);
  EXPECT_EQ(ReadShortcut(kMenuDir + L"\\Quillet Data.lnk").target, kInstallDir + L"\\quillet-data.exe");
  EXPECT_TRUE(Exists(kMenuDir + L"\\Quillet data folder.lnk"));

  bool found = false;
  EXPECT_EQ(RegistryText(kRunKey, kRunValue, &found),
            Quoted(kInstallDir + L"\\quillet-services-start.exe") + L" /logon");
  EXPECT_TRUE(found);
  EXPECT_EQ(RegistryText(kUninstallKey, L"DisplayVersion", &found), WideText(gVersion));
  EXPECT_EQ(RegistryText(kUninstallKey, L"UninstallString", &found), Quoted(kInstallDir + L"\\uninstall.exe"));
  EXPECT_EQ(RegistryText(kUninstallKey, L"InstallLocation", &found), kInstallDir);
}

TEST_F(Installed, SetupAndEveryProgramAreSignedByTheTestCertificate) {
  ASSERT_EQ(gSigner.size(), 40u) << "the test certificate's thumbprint";
  for (const std::wstring& program :
       {gSetup, kInstallDir + L"\\quillet.exe", kInstallDir + L"\\quillet-research.exe",
        kInstallDir + L"\\quillet-services.exe", kInstallDir + L"\\quillet-services-start.exe",
        kInstallDir + L"\\quillet-data.exe", kInstallDir + L"\\uninstall.exe"})
    EXPECT_EQ(VerifiedSigner(program), gSigner) << Utf8Text(program);
  // A changed byte breaks the signature: the check is of the file, not of its signature alone.
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring copy = std::wstring(temp) + L"changed.exe";
  std::string bytes = FileText(kInstallDir + L"\\quillet-research.exe");
  bytes[bytes.size() / 2] ^= 0x55;
  std::ofstream(std::filesystem::path(copy), std::ios::binary) << bytes;
  EXPECT_EQ(VerifiedSigner(copy), "");
  DeleteFileW(copy.c_str());
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

std::vector<std::string> CsvLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

TEST_F(Installed, CommandLineResearchWritesTheRowsAsCsv) {
  const std::wstring research = Quoted(kInstallDir + L"\\quillet-research.exe");
  const Finished topic = RunToEnd(research + L" category \"dog training\"", 300000);
  ASSERT_EQ(topic.exitCode, 0u) << topic.output;
  const std::vector<std::string> rows = CsvLines(topic.output);
  ASSERT_GE(rows.size(), 4u) << topic.output;
  EXPECT_EQ(rows[0], "Category,Demand,Supply,Profitability");
  EXPECT_EQ(rows[1].rfind("dog training,", 0), 0u) << rows[1];

  // The terms of an idea list, with the skip and the number of results that Settings... stored.
  constexpr const wchar_t* kSetup = L"Software\\Orvane\\Quillet1\\Setup";
  HKEY setup = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSetup, 0, nullptr, 0, KEY_WRITE, nullptr, &setup, nullptr),
            ERROR_SUCCESS);
  for (const auto& [name, value] : {std::pair{L"skip", DWORD{2}}, std::pair{L"results", DWORD{3}}})
    RegSetValueExW(setup, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(setup);
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring ideas = std::wstring(temp) + L"cli ideas.qlc";
  std::ofstream(std::filesystem::path(ideas), std::ios::binary)
      << IdeaListText({{"dog training", "1"}, {"cat care", "2"}});
  const Finished sites = RunToEnd(research + L" affiliate --settings --ideas " + Quoted(ideas), 300000);
  RegDeleteKeyW(HKEY_CURRENT_USER, kSetup);
  DeleteFileW(ideas.c_str());
  ASSERT_EQ(sites.exitCode, 0u) << sites.output;
  const std::vector<std::string> lines = CsvLines(sites.output);
  ASSERT_EQ(lines.size(), 7u) << sites.output;
  EXPECT_EQ(lines[0], "Category,Website URL,Rank #,Estimated # of affiliates,Alexa traffic rank");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> fields;
    std::stringstream line(lines[i]);
    for (std::string field; std::getline(line, field, ',');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 5u) << lines[i];
    EXPECT_EQ(fields[0], i <= 3 ? "dog training" : "cat care");
    EXPECT_EQ(fields[2], std::to_string(3 + (i - 1) % 3)) << "ranks start behind the 2 skipped results";
  }
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
  StoreSettings();
  // Quillet Data open, as a user leaves it: closed, and its program removed with the others.
  Process data(Quoted(kInstallDir + L"\\quillet-data.exe"));
  ASSERT_TRUE(data.Started());
  ASSERT_NE(WaitForTopWindow(L"QuilletForm", L"Quillet Data", 60000), nullptr);

  Process uninstall(Quoted(kInstallDir + L"\\uninstall.exe") + L" /S");
  ASSERT_TRUE(uninstall.Started());
  // The uninstaller runs on from a copy in the temporary folder: its work ends with its own file.
  ASSERT_TRUE(WaitUntil(120000, [] { return !Exists(kInstallDir + L"\\uninstall.exe") && !KeyExists(kUninstallKey); }));
  EXPECT_FALSE(data.Running()) << "Quillet Data was not closed";

  for (const std::wstring& file : kInstalledFiles) EXPECT_FALSE(Exists(kInstallDir + L"\\" + file)) << Utf8Text(file);
  EXPECT_FALSE(Exists(kInstallDir + L"\\licenses"));
  EXPECT_TRUE(Exists(ideas));
  EXPECT_FALSE(Exists(kMenuDir));
  bool found = true;
  RegistryText(kRunKey, kRunValue, &found);
  EXPECT_FALSE(found);
  EXPECT_FALSE(ServiceAnswers(0));
  // Silent: the research database and the settings are kept.
  EXPECT_TRUE(Exists(kDataDir + L"\\research.db"));
  EXPECT_TRUE(KeyExists(kSettingsKey));
}

TEST_F(Installed, ZipCopyShowsItsFirstDemoBuildAndLogsOneLinePerStep) {
  // The research database that the uninstall kept would be served at once.
  DeleteFileW((kDataDir + L"\\research.db").c_str());
  DeleteFileW((kDataDir + L"\\quillet-services.log").c_str());
  Process start(Quoted(gZipFolder + L"\\quillet-services-start.exe"));
  HWND window = WaitForTopWindow(L"QuilletBuildWindow", L"Quillet data service", 60000);
  ASSERT_NE(window, nullptr) << "no window while the demo data is built";
  std::wstring said;
  for (const std::wstring& text : DescendantTexts(window)) said += text + L"\n";
  EXPECT_NE(said.find(L"Building the demo research database"), std::wstring::npos) << Utf8Text(said);
  EXPECT_NE(said.find(L"takes a minute or two"), std::wstring::npos) << Utf8Text(said);
  HWND bar = FindDescendant(window, L"msctls_progress32");
  std::set<int> positions;
  EXPECT_TRUE(WaitFor(600000, [&] {
    positions.insert(static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)));
    return !IsWindow(window);
  }));
  EXPECT_GE(positions.size(), 8u) << "the bar did not move with the build";
  EXPECT_EQ(start.Wait(60000).exitCode, 0u);
  EXPECT_TRUE(ServiceAnswers(30000));

  const std::string log = FileText(kDataDir + L"\\quillet-services.log");
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(log.substr(at, end - at));
  for (const std::string& line : lines) EXPECT_EQ(line.find('\r'), std::string::npos) << line;
  ExpectOneLinePerStep(lines);
  const Finished stopped = RunToEnd(Quoted(gZipFolder + L"\\quillet-services.exe") + L" stop", 60000);
  EXPECT_NE(stopped.output.find("1 data service stopped"), std::string::npos) << stopped.output;
}

TEST_F(Installed, FailedDemoBuildIsShownOnTheFinishPage) {
  DeleteFileW((kDataDir + L"\\research.db").c_str());
  // A folder where the build writes its file: the build cannot write it.
  const std::wstring blocker = kDataDir + L"\\research.db.building";
  CreateDirectoryW(blocker.c_str(), nullptr);
  std::ofstream(std::filesystem::path(blocker + L"\\keep")) << "x";
  const InstallByHand run = RunSetupByHand();
  std::filesystem::remove_all(std::filesystem::path(blocker));
  EXPECT_EQ(run.exitCode, 3u) << "an install without its demo data must not end as a success";
  EXPECT_NE(run.finishPage.find("The demo research database could not be built"), std::string::npos) << run.finishPage;
  EXPECT_NE(run.finishPage.find("start quillet-services-start.exe in the program folder"), std::string::npos)
      << run.finishPage;
  std::string details;
  for (const std::string& line : run.details) details += line + "\n";
  EXPECT_NE(details.find("the demo data set could not be written"), std::string::npos) << details;
  EXPECT_FALSE(Exists(kDataDir + L"\\research.db"));
}

TEST_F(Installed, InstallerShowsEachStepOfTheDemoBuildAndMovesItsBar) {
  const InstallByHand run = RunSetupByHand();
  EXPECT_EQ(run.exitCode, 0u);
  ExpectOneLinePerStep(run.details);
  EXPECT_NE(std::find(run.details.begin(), run.details.end(), "building the demo data set: 240000 pages on 3000 hosts"),
            run.details.end());
  // Positions between the start and the end: the bar moved while the build ran.
  std::set<int> between;
  for (int position : run.bar)
    if (position > *run.bar.begin() && position < 30000) between.insert(position);
  EXPECT_GE(between.size(), 8u);
  EXPECT_NE(run.finishPage.find("Quillet " + gVersion + " is installed"), std::string::npos) << run.finishPage;
  EXPECT_TRUE(Exists(kDataDir + L"\\research.db"));
  EXPECT_TRUE(ServiceAnswers(30000));
}

TEST_F(Installed, HelpContentsOpensTheHelpOnItsTableOfContents) {
  // Started as the Start-menu entry starts it.
  const Shortcut shortcut = ReadShortcut(kMenuDir + L"\\Quillet.lnk");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  std::wstring command = Quoted(shortcut.target);
  ASSERT_TRUE(CreateProcessW(shortcut.target.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             shortcut.folder.c_str(), &startup, &started));
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  Driver quillet;
  ASSERT_TRUE(quillet.Attach());
  ASSERT_TRUE(BringToFront(quillet.MainWindow()));
  PressKeys({{VK_MENU, 'H'}, {'C'}});
  HWND viewer = WaitForTopWindow(L"HH Parent", L"Quillet Help", 30000);
  ASSERT_NE(viewer, nullptr) << "Help > Contents opened no help viewer";
  EXPECT_EQ(TreeViewItems(FindDescendant(viewer, L"SysTreeView32")), ContentsNames());
  PostMessageW(viewer, WM_CLOSE, 0, 0);
  EXPECT_EQ(quillet.CloseAndWait(), 0u);
}

TEST_F(Installed, UninstallWithTheBoxTickedRemovesTheDatabaseAndTheSettings) {
  StoreSettings();
  // The database kept from before the demo data goes with the research database.
  std::ofstream(std::filesystem::path(kDataDir + L"\\research.db.before-demo")) << "kept";
  Process uninstall(Quoted(kInstallDir + L"\\uninstall.exe"));
  HWND wizard = WaitForTopWindow(L"#32770", L"Quillet " + WideText(gVersion) + L" Uninstall", 60000);
  ASSERT_NE(wizard, nullptr);
  HWND tree = nullptr;
  ASSERT_TRUE(WaitFor(30000, [&] { return (tree = FindDescendant(wizard, L"SysTreeView32")) != nullptr; }));
  std::wstring page;
  for (const std::wstring& text : DescendantTexts(wizard)) page += text + L"\n";
  EXPECT_NE(page.find(L"and the database kept from before the demo data, if any) and your settings are kept unless "
                      L"you tick below: then they are removed"),
            std::wstring::npos)
      << Utf8Text(page);
  ASSERT_EQ(TreeViewItems(tree), (std::vector<std::wstring>{L"Quillet", L"Remove the research database"}));
  // A click on the box of the second item ticks it.
  ASSERT_TRUE(BringToFront(wizard));
  const RECT item = TreeItemOnScreen(tree, 1);
  ClickAt({item.left - 9, (item.top + item.bottom) / 2});
  PressKeys({{VK_RETURN}});
  HWND close = GetDlgItem(wizard, IDOK);
  ASSERT_TRUE(WaitFor(120000, [&] { return FindDescendant(wizard, L"SysListView32") && IsWindowEnabled(close); }));
  BringToFront(wizard);
  PressKeys({{VK_RETURN}});
  EXPECT_TRUE(WaitFor(30000, [&] { return !IsWindow(wizard); }));

  EXPECT_FALSE(Exists(kInstallDir + L"\\quillet.exe"));
  EXPECT_FALSE(Exists(kDataDir + L"\\research.db"));
  EXPECT_FALSE(Exists(kDataDir + L"\\research.db.before-demo"));
  EXPECT_FALSE(Exists(kDataDir));
  EXPECT_FALSE(KeyExists(L"Software\\Orvane\\Quillet1"));
  EXPECT_FALSE(KeyExists(L"Software\\Orvane")) << "the maker's key, left empty";
}

}  // namespace
}  // namespace quillet::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 6) {
    std::fprintf(stderr, "usage: install_tests SETUP.EXE VERSION ZIP-FOLDER SIGNER-SHA1 TOC.HHC\n");
    return 2;
  }
  using quillet::test::WideText;
  quillet::test::gSetup = WideText(argv[1]);
  quillet::test::gVersion = argv[2];
  quillet::test::gZipFolder = WideText(argv[3]);
  quillet::test::gSigner = argv[4];
  quillet::test::gContents = WideText(argv[5]);
  return RUN_ALL_TESTS();
}
