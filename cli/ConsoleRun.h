#pragma once
// The window and the result list of a research run, for a console: the rows go out as they
// are finished, a progress line (topic, row, rows per second) goes to the terminal, and the
// user's Ctrl-C stops the run as Stop does, after the row in progress.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "research/RunWindow.h"

namespace quillet::cli {

class ConsoleRun : public RunWindow, public ResultList {
 public:
  using RowOut = std::function<void(const std::vector<std::string>& cells)>;

  // columns: the cells of a row (caption, then sub-items). out receives each finished row.
  // stopFlag is the run's stop flag, which follows stopRequested (Ctrl-C) at every pump; the
  // run also sees stopRequested as Esc held down. progress, when not null, receives the
  // progress line. All references must outlive the object.
  ConsoleRun(std::size_t columns, RowOut out, bool& stopFlag, std::function<bool()> stopRequested, std::FILE* progress);

  // Before the run of each topic.
  void Begin(const std::string& topic);
  // After it returned: hands out its last row and returns the number of its rows.
  std::size_t Finish();

  void SetStatus(const std::string&) override {}
  void ProcessMessages() override;
  bool EscapeHeld() override;
  // Also the console's: the developer reads it on standard error.
  void ReportFailure(const char* place, std::exception_ptr error) override;

  // A row is finished when the run adds the next one or returns: the core never goes back
  // to an earlier row. Writes to any other than the newest row are dropped.
  void Clear() override;
  RowHandle AddRow() override;
  void SetCaption(RowHandle row, const std::string& text) override;
  void SetSubItem(RowHandle row, int index, const std::string& text) override;
  void SetChecked(RowHandle, bool) override {}

 private:
  using Clock = std::chrono::steady_clock;

  void HandOut();
  void Set(RowHandle row, std::size_t column, const std::string& text);
  void ShowProgress(bool last);

  std::size_t columns_;
  RowOut out_;
  bool& stopFlag_;
  std::function<bool()> stopRequested_;
  std::FILE* progress_;

  std::vector<std::string> row_;  // the newest row, not handed out yet
  RowHandle current_ = 0;         // its handle; 0 when there is none
  RowHandle lastHandle_ = 0;
  std::string topic_;
  std::size_t rows_ = 0;
  Clock::time_point started_;
  Clock::time_point shown_;
  std::size_t shownWidth_ = 0;
};

}  // namespace quillet::cli
