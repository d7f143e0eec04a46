#include "datawindow/DataForm.h"

#include <commdlg.h>

#include <algorithm>

#include "framework/Application.h"
#include "framework/FileDialog.h"
#include "protocol/Format.h"
#include "protocol/Mirror.h"

namespace quillet::data {
namespace {

constexpr UINT_PTR kPollTimer = 1, kStatusTimer = 2;
// How often the window looks at what its children wrote: often enough for a smooth bar.
constexpr UINT kPollMs = 100;
// How often the state of the database and the service is read while the window is shown:
// a command prompt may have imported or stopped the service meanwhile.
constexpr UINT kStatusMs = 5000;
constexpr int kWidth = 520, kHeight = 560, kMinHeight = 470;
constexpr int kResultsTop = 392;
// Crawl files got when the window offers pages for a database that has none.
constexpr int kCrawlFilesOffered = 5;

}  // namespace

TGetForm::TGetForm(HWND owner, bool replacesDemo) {
  CreateForm("Get open data", 470, 230, WS_SYSMENU, nullptr, owner);
  int top = 10;
  for (const DataSize& size : DataSizes()) {
    auto button = std::make_unique<win::RadioButton>();
    button->Create(hwnd_, Describe(size), {10, top, 452, 30}, BS_MULTILINE | (top == 10 ? WS_GROUP : 0));
    SizeButtons.push_back(std::move(button));
    top += 34;
  }
  MirrorLabel.Create(hwnd_, "Mirror (optional: a company's copy of the publishers' files):", 10, top + 6);
  MirrorEdit.Create(hwnd_, {10, top + 22, 452, 21});
  MirrorProblem.Create(hwnd_, "", {10, top + 46, 452, 14});
  DemoNote.Create(hwnd_, replacesDemo ? "The made-up demo data is replaced by the first file stored." : "",
                  {10, top + 66, 280, 28});
  GetButton.Create(hwnd_, "Get", {300, top + 88, 76, 25}, BS_DEFPUSHBUTTON);
  CancelButton.Create(hwnd_, "Cancel", {386, top + 88, 76, 25});
  MirrorEdit.onChange = [this] { MirrorEditChange(); };
  GetButton.onClick = [this] { SetModalResult(static_cast<int>(win::ModalResult::Ok)); };
  CancelButton.onClick = [this] { SetModalResult(static_cast<int>(win::ModalResult::Cancel)); };
}

void TGetForm::MirrorEditChange() {
  const std::string mirror = MirrorEdit.Text();
  const std::string problem = mirror.empty() ? std::string() : protocol::MirrorProblem(mirror);
  MirrorProblem.SetText(problem.empty() ? "" : "Not a mirror address: " + problem + ".");
  GetButton.SetEnabled(problem.empty());
}

bool TGetForm::Choose(std::string* mirror, std::size_t* size) {
  SizeButtons.at(*size)->SetChecked(true);
  MirrorEdit.SetText(*mirror);
  if (ShowModal() != static_cast<int>(win::ModalResult::Ok)) return false;
  for (std::size_t i = 0; i < SizeButtons.size(); ++i)
    if (SizeButtons[i]->Checked()) *size = i;
  *mirror = MirrorEdit.Text();
  return true;
}

TDataForm::TDataForm(DataSettings settings) : settings_(std::move(settings)) {
  CreateForm(kTitle, kWidth, kHeight, WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME);
  win::Application::Instance().SetMainWindow(hwnd_);
  CreateControls();
  RECT client{};
  GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
  ShowStatus();
  ShowProgress();
  RefreshStatus();
  SetTimer(hwnd_, kStatusTimer, kStatusMs, nullptr);
}

TDataForm::~TDataForm() {
  if (hwnd_) {
    KillTimer(hwnd_, kPollTimer);
    KillTimer(hwnd_, kStatusTimer);
  }
}

void TDataForm::CreateControls() {
  DatabaseGroup.Create(hwnd_, "Research database", {8, 4, 504, 196});
  // A group box paints only its frame: the form, which clips its children, must paint
  // beneath it.
  SetWindowLongA(DatabaseGroup.Handle(), GWL_EXSTYLE,
                 GetWindowLongA(DatabaseGroup.Handle(), GWL_EXSTYLE) | WS_EX_TRANSPARENT);
  DatabaseLabel.Create(hwnd_, "", {18, 22, 484, 14});
  CountsLabel.Create(hwnd_, "", {18, 40, 484, 14});
  ServiceLabel.Create(hwnd_, "", {18, 62, 370, 14});
  ServiceButton.Create(hwnd_, "Stop service", {402, 57, 100, 23});
  SourcesList.Create(hwnd_, {18, 86, 484, 106},
                     {{"Stored (UTC)", 112, 40}, {"Kind", 66, 30}, {"Records", 72, 30}, {"Source", 210, 40}}, {});
  AdviceLabel.Create(hwnd_, "", {8, 206, 388, 28});
  CrawlButton.Create(hwnd_, "Get crawl pages", {402, 208, 110, 23});
  KeptLabel.Create(hwnd_, "", {8, 240, 388, 28});
  TakeBackButton.Create(hwnd_, "Take it back", {402, 242, 110, 23});
  GetButton.Create(hwnd_, "Get open data...", {8, 274, 128, 25});
  ImportButton.Create(hwnd_, "Import files...", {144, 274, 110, 25});
  DemoButton.Create(hwnd_, "Restore demo data", {262, 274, 128, 25});
  FileLabel.Create(hwnd_, "", {8, 308, 504, 14});
  FileBar.Create(hwnd_, {8, 324, 504, 16}, kBarRange);
  JobLabel.Create(hwnd_, "", {8, 348, 504, 14});
  JobBar.Create(hwnd_, {8, 364, 420, 16}, kBarRange);
  CancelButton.Create(hwnd_, "Cancel", {436, 360, 76, 24});
  ResultsEdit.Create(hwnd_, {8, kResultsTop, 504, 120}, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL);
  StatusBar1.Create(hwnd_);

  GetButton.onClick = [this] { GetButtonClick(); };
  ImportButton.onClick = [this] { ImportButtonClick(); };
  DemoButton.onClick = [this] { DemoButtonClick(); };
  TakeBackButton.onClick = [this] { TakeBackButtonClick(); };
  ServiceButton.onClick = [this] { ServiceButtonClick(); };
  CrawlButton.onClick = [this] { CrawlButtonClick(); };
  CancelButton.onClick = [this] { CancelButtonClick(); };
}

void TDataForm::Layout(int width, int height) {
  const int inner = width - 16;  // between the margins
  DatabaseGroup.SetBounds({8, 4, inner, 196});
  DatabaseLabel.SetBounds({18, 22, inner - 20, 14});
  CountsLabel.SetBounds({18, 40, inner - 20, 14});
  ServiceLabel.SetBounds({18, 62, inner - 134, 14});
  ServiceButton.SetBounds({width - 118, 57, 100, 23});
  SourcesList.SetBounds({18, 86, inner - 20, 106});
  AdviceLabel.SetBounds({8, 206, inner - 118, 28});
  CrawlButton.SetBounds({width - 118, 208, 110, 23});
  KeptLabel.SetBounds({8, 240, inner - 118, 28});
  TakeBackButton.SetBounds({width - 118, 242, 110, 23});
  FileLabel.SetBounds({8, 308, inner, 14});
  FileBar.SetBounds({8, 324, inner, 16});
  JobLabel.SetBounds({8, 348, inner, 14});
  JobBar.SetBounds({8, 364, inner - 84, 16});
  CancelButton.SetBounds({width - 84, 360, 76, 24});
  // The status bar places itself at the bottom; the results area takes what is above it.
  SendMessageA(StatusBar1.Handle(), WM_SIZE, 0, 0);
  RECT bar{};
  GetWindowRect(StatusBar1.Handle(), &bar);
  const int barHeight = bar.bottom - bar.top;
  ResultsEdit.SetBounds({8, kResultsTop, inner, std::max(40, height - barHeight - 6 - kResultsTop)});
}

LRESULT TDataForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      if (wp == kPollTimer) Poll();
      // The state may have changed without this window: a command prompt, the log-on.
      if (wp == kStatusTimer && IsWindowVisible(hwnd_) && !IsIconic(hwnd_) && !Busy()) RefreshStatus();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE && !Busy()) RefreshStatus();
      break;
    case WM_SIZE:
      if (wp != SIZE_MINIMIZED) Layout(LOWORD(lp), HIWORD(lp));
      return 0;
    case WM_GETMINMAXINFO: {
      RECT frame{0, 0, kWidth, kMinHeight};
      AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_EXSTYLE)));
      auto* limits = reinterpret_cast<MINMAXINFO*>(lp);
      limits->ptMinTrackSize = {frame.right - frame.left, frame.bottom - frame.top};
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      // Labels and the group on the button face, not on the window colour; the results
      // area (read-only, so drawn as static) on the window colour, as text to read.
      if (reinterpret_cast<HWND>(lp) == ResultsEdit.Handle()) break;
      SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    default: break;
  }
  return Form::HandleMessage(msg, wp, lp);
}

// Closed while a job runs: the step under way is ended (what it was storing is not kept), and
// what undoes the job's steps runs on without the window (the service started again).
void TDataForm::DoClose() {
  if (Busy()) {
    job_->Cancel();
    if (jobRun_) {
      jobRun_->Stop();
      job_->Ended(static_cast<int>(jobRun_->ExitCode()));
      jobRun_.reset();
    }
    while (const Step* step = job_->Next()) {
      job_->Ended(RunDetached(CommandFor(*step, settings_.programs)) ? 0 : 1);
    }
  }
  Form::DoClose();
}

void TDataForm::GetButtonClick() {
  TGetForm chooser(hwnd_, HoldsDemoOnly(status_));
  std::string mirror = settings_.mirror;
  std::size_t size = 0;
  if (!chooser.Choose(&mirror, &size)) return;
  settings_.mirror = mirror;
  RunJob(GetJob(DataSizes().at(size), mirror));
}

void TDataForm::CrawlButtonClick() { RunJob(CrawlJob(kCrawlFilesOffered, settings_.mirror)); }

void TDataForm::ImportButtonClick() {
  win::FileDialog dialog;
  dialog.filter = "Data files (*.gz;*.csv;*.tsv;*.txt;*.jsonl)|*.gz;*.csv;*.tsv;*.txt;*.jsonl|All files (*.*)|*.*";
  dialog.options = OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  if (!dialog.ExecuteOpen(hwnd_)) return;
  std::int64_t bytes = 0;
  for (const std::string& file : dialog.fileNames) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data))
      bytes += (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  RunJob(ImportJob(dialog.fileNames, bytes));
}

void TDataForm::DemoButtonClick() {
  if (status_.userData &&
      win::Application::Instance().ShowMessageBox(
          "The research database holds data you imported or fetched. Restoring the demo data replaces it.\r\n\r\n"
          "Your database is kept beside it as research.db.before-demo until you next log on; Quillet Data "
          "shows it and can take it back.\r\n\r\nReplace it?",
          kTitle, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
    return;
  RunJob(RestoreDemoJob(status_));
}

void TDataForm::TakeBackButtonClick() {
  if (win::Application::Instance().ShowMessageBox(
          "The demo data is removed and the database kept from before it takes its place again.\r\n\r\nTake it "
          "back?",
          kTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  RunJob(TakeBackJob(status_));
}

void TDataForm::ServiceButtonClick() { RunJob(ServiceJob(status_)); }

void TDataForm::CancelButtonClick() {
  if (!Busy()) return;
  job_->Cancel();
  if (jobRun_) jobRun_->Stop();
}

void TDataForm::RunJob(Job job) {
  if (Busy()) return;
  job_ = std::make_unique<Job>(std::move(job));
  ResultsEdit.SetText("");
  StatusBar1.SetSimpleText(job_->Said());
  StartNext();
}

void TDataForm::StartNext() {
  while (const Step* step = job_->Next()) {
    jobRun_ = std::make_unique<ChildRun>();
    if (jobRun_->Start(CommandFor(*step, settings_.programs))) {
      SetTimer(hwnd_, kPollTimer, kPollMs, nullptr);
      ShowProgress();
      return;
    }
    jobRun_.reset();
    job_->Ended(1, true);
  }
  EndJob();
}

void TDataForm::EndJob() {
  StatusBar1.SetSimpleText(job_->Said());
  ResultsEdit.SetText(job_->Report());
  // The job changed the database: the next one waits for its state read afresh.
  status_.complete = false;
  ShowProgress();
  RefreshStatus();
}

void TDataForm::RefreshStatus() {
  if (statusRun_) {
    statusAgain_ = true;
    return;
  }
  statusAgain_ = false;
  reading_ = DatabaseStatus();
  statusRun_ = std::make_unique<ChildRun>();
  Step status;
  status.args = {"status"};
  if (statusRun_->Start(CommandFor(status, settings_.programs))) SetTimer(hwnd_, kPollTimer, kPollMs, nullptr);
  else statusRun_.reset();
}

void TDataForm::Poll() {
  if (statusRun_) {
    const bool ended = !statusRun_->Running();
    for (const std::string& line : statusRun_->TakeLines()) ReadStatusLine(line, &reading_);
    if (ended) {
      statusRun_.reset();
      if (reading_.complete) status_ = reading_;
      ShowStatus();
      if (statusAgain_) RefreshStatus();
    }
  }
  if (jobRun_) {
    const bool ended = !jobRun_->Running();
    for (const std::string& line : jobRun_->TakeLines()) job_->Read(line);
    StatusBar1.SetSimpleText(job_->Said());
    // The counts grow with each file stored.
    if (job_->TakeStored()) RefreshStatus();
    if (ended) {
      const DWORD code = jobRun_->ExitCode();
      jobRun_.reset();
      job_->Ended(static_cast<int>(code));
      StartNext();
    }
    ShowProgress();
  }
  if (!jobRun_ && !statusRun_) KillTimer(hwnd_, kPollTimer);
}

void TDataForm::ShowStatus() {
  std::string database = status_.path.empty() ? "(reading...)" : status_.path;
  if (status_.bytes >= 0) database += " (" + protocol::Bytes(status_.bytes) + ")";
  else if (!status_.path.empty()) database += " (not made yet)";
  DatabaseLabel.SetText("Database: " + database);
  CountsLabel.SetText("Holds: " + protocol::Thousands(status_.pages) + " pages, " + protocol::Thousands(status_.terms) +
                      " search terms, " + protocol::Thousands(status_.ranked) + " ranked domains");
  const ServiceState service = ServiceOf(status_);
  ServiceLabel.SetText(std::string("Data service: ") + (service == ServiceState::kRunning   ? "running"
                                                        : service == ServiceState::kStopped ? "not running"
                                                                                            : "unknown"));
  ServiceButton.SetText(service == ServiceState::kRunning ? "Stop service" : "Start service");
  SourcesList.Clear();
  for (auto it = status_.sources.rbegin(); it != status_.sources.rend(); ++it) {
    // The file's name tells the sources apart; the whole address is in `quillet-services sources`.
    std::string source = it->address.substr(it->address.find_last_of("/\\") + 1);
    if (it->firstLines > 0) source += " (first " + protocol::Thousands(it->firstLines) + " lines)";
    SourcesList.AddRow({it->at, it->kind, protocol::Thousands(it->stored), source});
  }
  const std::string advice = Advice(status_);
  AdviceLabel.SetText(advice);
  CrawlButton.SetVisible(!advice.empty());
  const std::string kept = KeptText(status_);
  KeptLabel.SetText(kept);
  TakeBackButton.SetVisible(!kept.empty());
  ShowProgress();
}

void TDataForm::ShowProgress() {
  const JobProgress* progress = job_ ? &job_->Progress() : nullptr;
  FileBar.SetPosition(progress ? static_cast<int>(progress->FileShare() * kBarRange) : 0);
  JobBar.SetPosition(progress ? static_cast<int>(progress->JobShare() * kBarRange) : 0);
  FileLabel.SetText(progress ? "File: " + progress->FileText() : "File:");
  JobLabel.SetText(progress ? "All: " + progress->JobText() : "All:");
  // A job waits for the database's state: whether it holds demo data decides its steps.
  const bool ready = !Busy() && status_.complete;
  for (win::Button* button : {&GetButton, &ImportButton, &DemoButton, &CrawlButton, &TakeBackButton})
    button->SetEnabled(ready);
  ServiceButton.SetEnabled(ready && ServiceOf(status_) != ServiceState::kUnknown);
  CancelButton.SetEnabled(Busy());
}

}  // namespace quillet::data
