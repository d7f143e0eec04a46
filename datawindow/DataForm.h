#pragma once
// The Quillet Data window: what the research database holds and where it came from, whether
// the data service runs, and the jobs that change it: getting open data, importing files,
// restoring the demo data, starting and stopping the service. Every job runs the
// quillet-services program beside it as a child, reading its progress lines, so that the
// window never blocks and the running service sees each file as soon as it is stored.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "datawindow/ChildRun.h"
#include "datawindow/DataModel.h"
#include "framework/Controls.h"
#include "framework/ListView.h"
#include "framework/Window.h"

namespace quillet::data {

// Where the window finds what it runs, and what it passes on.
struct DataSettings {
  std::string services;  // quillet-services.exe
  std::string starter;   // quillet-services-start.exe
  std::string database;  // --db for every command; empty: the service's own default
  std::string mirror;    // offered for getting open data; empty: the publishers
};

// The modal choice of a size of open data, and of a mirror.
class TGetForm : public win::Form {
 public:
  // replacesDemo: the database holds the demo data, which the data got replaces.
  TGetForm(HWND owner, bool replacesDemo);
  // Shows the form; true when Get was pressed.
  bool Choose(std::string* mirror, std::size_t* size);

  std::vector<std::unique_ptr<win::RadioButton>> SizeButtons;
  win::Label MirrorLabel;
  win::Edit MirrorEdit;
  win::Label DemoNote;
  win::Button GetButton;
  win::Button CancelButton;
};

class TDataForm : public win::Form {
 public:
  static constexpr const char* kTitle = "Quillet Data";

  explicit TDataForm(DataSettings settings);
  ~TDataForm() override;

  // Event handlers.
  void GetButtonClick();
  void ImportButtonClick();
  void DemoButtonClick();
  void ServiceButtonClick();
  void CrawlButtonClick();
  void CancelButtonClick();

  // What the window last read of the database.
  const DatabaseStatus& Status() const { return status_; }

  win::GroupBox DatabaseGroup;
  win::Label DatabaseLabel;
  win::Label CountsLabel;
  win::Label ServiceLabel;
  win::Button ServiceButton;
  win::ListView SourcesList;
  win::Label AdviceLabel;
  win::Button CrawlButton;
  win::Button GetButton;
  win::Button ImportButton;
  win::Button DemoButton;
  win::Label FileLabel;
  win::ProgressBar FileBar;
  win::Label JobLabel;
  win::ProgressBar JobBar;
  win::Button CancelButton;
  win::StatusBar StatusBar1;

  static constexpr int kBarRange = 1000;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  // One command of a job: quillet-services arguments, or the starter (no arguments).
  struct Step {
    std::vector<std::string> args;
    bool starter = false;
  };

  void CreateControls();
  // The steps that empty a database of demo data before real data is got into it (none
  // when it holds other data): the service is stopped while its file is replaced.
  std::vector<Step> LeaveDemo() const;
  // Runs the steps in turn; estimates are the bytes each is expected to read.
  void RunJob(std::vector<Step> steps, std::vector<std::int64_t> estimates, const std::string& title);
  void StartStep();
  void EndJob();
  void RefreshStatus();
  void Poll();
  void ShowStatus();
  void ShowProgress();
  std::string CommandFor(const Step& step) const;
  bool Busy() const { return !steps_.empty(); }

  DataSettings settings_;
  DatabaseStatus status_;
  DatabaseStatus reading_;               // filled by the status command under way
  std::unique_ptr<ChildRun> statusRun_;  // while the status is read
  bool statusAgain_ = false;             // the database changed while it was read
  std::unique_ptr<ChildRun> jobRun_;     // the step under way
  std::vector<Step> steps_;              // of the job under way, empty when none
  std::size_t step_ = 0;
  std::string jobTitle_;
  bool cancelled_ = false;
  std::unique_ptr<JobProgress> progress_;
};

}  // namespace quillet::data
