#pragma once
// The Quillet Data window: what the research database holds and where it came from, whether
// the data service runs, and the jobs that change it: getting open data, importing files,
// restoring the demo data (and taking back the database it replaced), starting and stopping
// the service. Every job runs the quillet-services program beside it as a child, reading its
// lines; what the job is made of and what it makes of them is the job model's (Job.h): the
// form shows its state and forwards the clicks. The window never blocks, and the running
// service sees each file as soon as it is stored.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "datawindow/ChildRun.h"
#include "datawindow/DataModel.h"
#include "datawindow/Job.h"
#include "framework/Controls.h"
#include "framework/ListView.h"
#include "framework/Window.h"

namespace quillet::data {

// Where the window finds what it runs, and what it passes on.
struct DataSettings {
  Programs programs;
  std::string mirror;  // offered for getting open data; empty: the publishers
};

// The modal choice of a size of open data, and of a mirror, checked as it is typed.
class TGetForm : public win::Form {
 public:
  // replacesDemo: the database holds the demo data, which the data got replaces.
  TGetForm(HWND owner, bool replacesDemo);
  // Shows the form; true when Get was pressed.
  bool Choose(std::string* mirror, std::size_t* size);

  std::vector<std::unique_ptr<win::RadioButton>> SizeButtons;
  win::Label MirrorLabel;
  win::Edit MirrorEdit;
  win::Label MirrorProblem;
  win::Label DemoNote;
  win::Button GetButton;
  win::Button CancelButton;

 private:
  void MirrorEditChange();
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
  void TakeBackButtonClick();
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
  win::Label KeptLabel;
  win::Button TakeBackButton;
  win::Button GetButton;
  win::Button ImportButton;
  win::Button DemoButton;
  win::Label FileLabel;
  win::ProgressBar FileBar;
  win::Label JobLabel;
  win::ProgressBar JobBar;
  win::Button CancelButton;
  win::Edit ResultsEdit;  // every problem of the last job, in full
  win::StatusBar StatusBar1;

  static constexpr int kBarRange = 1000;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void DoClose() override;

 private:
  void CreateControls();
  // Places the controls for a client area of this size: the results area takes what is left.
  void Layout(int width, int height);
  // Runs the job's steps in turn, each as a child.
  void RunJob(Job job);
  void StartNext();
  void EndJob();
  void RefreshStatus();
  void Poll();
  void ShowStatus();
  void ShowProgress();
  bool Busy() const { return job_ && !job_->Over(); }

  DataSettings settings_;
  DatabaseStatus status_;
  DatabaseStatus reading_;               // filled by the status command under way
  std::unique_ptr<ChildRun> statusRun_;  // while the status is read
  bool statusAgain_ = false;             // the database changed while it was read
  std::unique_ptr<ChildRun> jobRun_;     // the step under way
  std::unique_ptr<Job> job_;             // the job under way, or the last one
};

}  // namespace quillet::data
