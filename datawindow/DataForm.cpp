#include "datawindow/DataForm.h"

#include <commdlg.h>

#include "framework/Application.h"
#include "framework/FileDialog.h"

namespace quillet::data {
namespace {

constexpr UINT_PTR kPollTimer = 1;
// How often the window looks at what its children wrote: often enough for a smooth bar.
constexpr UINT kPollMs = 100;
constexpr int kWidth = 520, kHeight = 400, kStatusHeight = 19;
// Crawl files got when the window offers pages for a database that has none.
constexpr int kCrawlFilesOffered = 5;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

TGetForm::TGetForm(HWND owner, bool replacesDemo) {
  CreateForm("Get open data", 470, 214, WS_SYSMENU, nullptr, owner);
  int top = 10;
  for (const DataSize& size : DataSizes()) {
    auto button = std::make_unique<win::RadioButton>();
    button->Create(hwnd_, Describe(size), {10, top, 452, 30}, BS_MULTILINE | (top == 10 ? WS_GROUP : 0));
    SizeButtons.push_back(std::move(button));
    top += 34;
  }
  MirrorLabel.Create(hwnd_, "Mirror (optional: a company's copy of the publishers' files):", 10, top + 6);
  MirrorEdit.Create(hwnd_, {10, top + 22, 452, 21});
  DemoNote.Create(hwnd_, replacesDemo ? "The made-up demo data is removed first." : "", {10, top + 50, 280, 14});
  GetButton.Create(hwnd_, "Get", {300, top + 72, 76, 25}, BS_DEFPUSHBUTTON);
  CancelButton.Create(hwnd_, "Cancel", {386, top + 72, 76, 25});
  GetButton.onClick = [this] { SetModalResult(static_cast<int>(win::ModalResult::Ok)); };
  CancelButton.onClick = [this] { SetModalResult(static_cast<int>(win::ModalResult::Cancel)); };
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
  CreateForm(kTitle, kWidth, kHeight, WS_SYSMENU | WS_MINIMIZEBOX);
  win::Application::Instance().SetMainWindow(hwnd_);
  CreateControls();
  ShowStatus();
  ShowProgress();
  RefreshStatus();
}

TDataForm::~TDataForm() {
  if (hwnd_) KillTimer(hwnd_, kPollTimer);
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
  AdviceLabel.Create(hwnd_, "", {8, 206, 388, 42});
  CrawlButton.Create(hwnd_, "Get crawl pages", {402, 210, 110, 23});
  GetButton.Create(hwnd_, "Get open data...", {8, 254, 128, 25});
  ImportButton.Create(hwnd_, "Import files...", {144, 254, 110, 25});
  DemoButton.Create(hwnd_, "Restore demo data", {262, 254, 128, 25});
  FileLabel.Create(hwnd_, "", {8, 290, 504, 14});
  FileBar.Create(hwnd_, {8, 306, 504, 16}, kBarRange);
  JobLabel.Create(hwnd_, "", {8, 330, 504, 14});
  JobBar.Create(hwnd_, {8, 346, 420, 16}, kBarRange);
  CancelButton.Create(hwnd_, "Cancel", {436, 342, 76, 24});
  StatusBar1.Create(hwnd_);
  SetWindowPos(StatusBar1.Handle(), nullptr, 0, kHeight - kStatusHeight, kWidth, kStatusHeight, SWP_NOZORDER);

  GetButton.onClick = [this] { GetButtonClick(); };
  ImportButton.onClick = [this] { ImportButtonClick(); };
  DemoButton.onClick = [this] { DemoButtonClick(); };
  ServiceButton.onClick = [this] { ServiceButtonClick(); };
  CrawlButton.onClick = [this] { CrawlButtonClick(); };
  CancelButton.onClick = [this] { CancelButtonClick(); };
}

LRESULT TDataForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_TIMER && wp == kPollTimer) {
    Poll();
    return 0;
  }
  if (msg == WM_CTLCOLORSTATIC) {
    // Labels and the group on the button face, not on the window colour.
    SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  }
  return Form::HandleMessage(msg, wp, lp);
}

void TDataForm::GetButtonClick() {
  TGetForm chooser(hwnd_, HoldsDemoOnly(status_));
  std::string mirror = settings_.mirror;
  std::size_t size = 0;
  if (!chooser.Choose(&mirror, &size)) return;
  settings_.mirror = mirror;
  const DataSize& chosen = DataSizes().at(size);
  std::vector<Step> steps = LeaveDemo();
  std::vector<std::int64_t> estimates(steps.size(), 1);
  for (std::vector<std::string>& command : GetCommands(chosen, mirror)) steps.push_back({std::move(command)});
  estimates.insert(estimates.end(), chosen.stepBytes.begin(), chosen.stepBytes.end());
  RunJob(std::move(steps), std::move(estimates), "Getting " + chosen.name + " open data");
}

void TDataForm::CrawlButtonClick() {
  DataSize pages = DataSizes().front();
  pages.crawlFiles = kCrawlFilesOffered;
  std::vector<Step> steps = LeaveDemo();
  std::vector<std::int64_t> estimates(steps.size(), 1);
  steps.push_back({GetCommands(pages, settings_.mirror).front()});
  estimates.push_back(pages.stepBytes.front());
  RunJob(std::move(steps), std::move(estimates), "Getting crawl pages");
}

void TDataForm::ImportButtonClick() {
  win::FileDialog dialog;
  dialog.filter = "Data files (*.gz;*.csv;*.tsv;*.txt;*.jsonl)|*.gz;*.csv;*.tsv;*.txt;*.jsonl|All files (*.*)|*.*";
  dialog.options = OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  if (!dialog.ExecuteOpen(hwnd_)) return;
  std::vector<std::string> args = {"import", "auto"};
  std::int64_t bytes = 0;
  for (const std::string& file : dialog.fileNames) {
    args.push_back(file);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data))
      bytes += (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  std::vector<Step> steps = LeaveDemo();
  std::vector<std::int64_t> estimates(steps.size(), 1);
  steps.push_back({args});
  estimates.push_back(bytes);
  RunJob(std::move(steps), std::move(estimates),
         "Importing " + Count(static_cast<std::int64_t>(dialog.fileNames.size())) + " files");
}

std::vector<TDataForm::Step> TDataForm::LeaveDemo() const {
  if (!HoldsDemoOnly(status_)) return {};
  const bool running = status_.service == "running";
  std::vector<Step> steps;
  // A database the service holds open cannot be replaced on Windows.
  if (running) steps.push_back({{"stop"}});
  steps.push_back({{"demo", "--remove"}});
  if (running) steps.push_back({{}, true});
  return steps;
}

void TDataForm::DemoButtonClick() {
  if (status_.userData &&
      win::Application::Instance().ShowMessageBox(
          "The research database holds data you imported or fetched. Restoring the demo data replaces it.\r\n\r\n"
          "Your database is kept beside it as research.db.before-demo until you next log on.\r\n\r\nReplace it?",
          kTitle, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
    return;
  const bool running = status_.service == "running";
  std::vector<Step> steps;
  // A database the service holds open cannot be replaced on Windows.
  if (running) steps.push_back({{"stop"}});
  steps.push_back(
      {status_.userData ? std::vector<std::string>{"demo", "--replace"} : std::vector<std::string>{"demo"}});
  if (running) steps.push_back({{}, true});
  std::vector<std::int64_t> estimates(steps.size(), 1);
  RunJob(std::move(steps), std::move(estimates), "Restoring the demo data");
}

void TDataForm::ServiceButtonClick() {
  if (status_.service == "running") RunJob({{{"stop"}}}, {1}, "Stopping the data service");
  else RunJob({{{}, true}}, {1}, "Starting the data service");
}

void TDataForm::CancelButtonClick() {
  if (!Busy() || !jobRun_) return;
  cancelled_ = true;
  jobRun_->Stop();
}

std::string TDataForm::CommandFor(const Step& step) const {
  if (step.starter) return CommandLine(settings_.starter, {});
  std::vector<std::string> args = step.args;
  if (args.front() != "stop") {
    if (!settings_.database.empty()) args.insert(args.end(), {"--db", settings_.database});
    args.push_back("--progress-lines");
  }
  return CommandLine(settings_.services, args);
}

void TDataForm::RunJob(std::vector<Step> steps, std::vector<std::int64_t> estimates, const std::string& title) {
  if (Busy()) return;
  steps_ = std::move(steps);
  step_ = 0;
  jobTitle_ = title;
  cancelled_ = false;
  progress_ = std::make_unique<JobProgress>(std::move(estimates));
  StatusBar1.SetSimpleText(title + "...");
  StartStep();
}

void TDataForm::StartStep() {
  progress_->StartStep(step_);
  jobRun_ = std::make_unique<ChildRun>();
  if (!jobRun_->Start(CommandFor(steps_[step_]))) {
    jobRun_.reset();
    StatusBar1.SetSimpleText("Cannot run " + (steps_[step_].starter ? settings_.starter : settings_.services));
    steps_.clear();
    EndJob();
    return;
  }
  SetTimer(hwnd_, kPollTimer, kPollMs, nullptr);
  ShowStatus();
  ShowProgress();
}

void TDataForm::EndJob() {
  steps_.clear();
  std::string said = jobTitle_ + ": done.";
  if (cancelled_) said = jobTitle_ + ": cancelled. What was stored before stays; the same command goes on from there.";
  else if (progress_ && progress_->Status() != 0)
    said = jobTitle_ + ": finished with problems" +
           (progress_->LastFailure().empty() ? std::string(".") : ": " + progress_->LastFailure());
  StatusBar1.SetSimpleText(said);
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
  if (statusRun_->Start(CommandFor({{"status"}}))) SetTimer(hwnd_, kPollTimer, kPollMs, nullptr);
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
    bool stored = false;
    for (const std::string& line : jobRun_->TakeLines()) {
      progress_->Read(line);
      stored = stored || StartsWith(line, "stored\t");
    }
    // A file's summary, not the lines of detail under it.
    for (const std::string& message : progress_->TakeMessages())
      if (!message.empty() && message.front() != ' ') StatusBar1.SetSimpleText(message);
    // The counts grow with each file stored.
    if (stored) RefreshStatus();
    if (ended) {
      const DWORD code = jobRun_->ExitCode();
      jobRun_.reset();
      const Step& step = steps_[step_];
      if (code != 0 && step.starter)
        progress_->Read("failed\tthe data service did not start: see quillet-services.log");
      if (code != 0 && !step.starter && step.args.front() == "stop")
        progress_->Read("failed\tthe data service could not be stopped");
      progress_->Read("done\t" + std::to_string(code));
      if (!cancelled_ && ++step_ < steps_.size()) StartStep();
      else EndJob();
    }
    ShowProgress();
  }
  if (!jobRun_ && !statusRun_) KillTimer(hwnd_, kPollTimer);
}

void TDataForm::ShowStatus() {
  std::string database = status_.path.empty() ? "(reading...)" : status_.path;
  if (status_.bytes >= 0) database += " (" + Bytes(status_.bytes) + ")";
  else if (!status_.path.empty()) database += " (not made yet)";
  DatabaseLabel.SetText("Database: " + database);
  CountsLabel.SetText("Holds: " + Count(status_.pages) + " pages, " + Count(status_.terms) + " search terms, " +
                      Count(status_.ranked) + " ranked domains");
  const bool running = status_.service == "running";
  ServiceLabel.SetText(std::string("Data service: ") + (running                        ? "running"
                                                        : status_.service == "stopped" ? "not running"
                                                                                       : "unknown"));
  ServiceButton.SetText(running ? "Stop service" : "Start service");
  SourcesList.Clear();
  for (auto it = status_.sources.rbegin(); it != status_.sources.rend(); ++it) {
    // The file's name tells the sources apart; the whole address is in `quillet-services sources`.
    std::string source = it->address.substr(it->address.find_last_of("/\\") + 1);
    if (it->firstLines > 0) source += " (first " + Count(it->firstLines) + " lines)";
    SourcesList.AddRow({it->at, it->kind, Count(it->stored), source});
  }
  const std::string advice = Advice(status_);
  AdviceLabel.SetText(advice);
  ShowWindow(CrawlButton.Handle(), advice.empty() ? SW_HIDE : SW_SHOW);
  ShowProgress();
}

void TDataForm::ShowProgress() {
  const bool job = progress_ != nullptr;
  FileBar.SetPosition(job ? static_cast<int>(progress_->FileShare() * kBarRange) : 0);
  JobBar.SetPosition(job ? static_cast<int>(progress_->JobShare() * kBarRange) : 0);
  FileLabel.SetText(job ? "File: " + progress_->FileText() : "File:");
  JobLabel.SetText(job ? "All: " + progress_->JobText() : "All:");
  // A job waits for the database's state: whether it holds demo data decides its steps.
  const bool ready = !Busy() && status_.complete;
  for (win::Button* button : {&GetButton, &ImportButton, &DemoButton, &CrawlButton}) button->SetEnabled(ready);
  ServiceButton.SetEnabled(ready && status_.service != "unknown");
  CancelButton.SetEnabled(Busy());
}

}  // namespace quillet::data
