#include "cli/ConsoleRun.h"

#include <cstdint>
#include <cstdio>
#include <exception>

#include "protocol/Format.h"

namespace quillet::cli {
namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(200);

std::string WhatFailed(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
  }
  return "unknown exception";
}

}  // namespace

ConsoleRun::ConsoleRun(std::size_t columns, RowOut out, bool& stopFlag, std::function<bool()> stopRequested,
                       std::FILE* progress)
    : columns_(columns),
      out_(std::move(out)),
      stopFlag_(stopFlag),
      stopRequested_(std::move(stopRequested)),
      progress_(progress) {}

void ConsoleRun::Begin(const std::string& topic) {
  topic_ = topic;
  rows_ = 0;
  started_ = shown_ = Clock::now();
  ShowProgress(false);
}

std::size_t ConsoleRun::Finish() {
  HandOut();
  ShowProgress(true);
  return rows_;
}

void ConsoleRun::ProcessMessages() {
  if (stopRequested_()) stopFlag_ = true;
  if (progress_ && Clock::now() - shown_ >= kProgressInterval) ShowProgress(false);
}

bool ConsoleRun::EscapeHeld() { return stopRequested_(); }

void ConsoleRun::ReportFailure(const char* place, std::exception_ptr error) {
  std::fprintf(stderr, "quillet-research: %s: %s\n", place, WhatFailed(error).c_str());
}

void ConsoleRun::Clear() {
  row_.clear();
  current_ = 0;
}

RowHandle ConsoleRun::AddRow() {
  HandOut();
  row_.assign(columns_, std::string());
  current_ = ++lastHandle_;
  return current_;
}

void ConsoleRun::SetCaption(RowHandle row, const std::string& text) { Set(row, 0, text); }

void ConsoleRun::SetSubItem(RowHandle row, int index, const std::string& text) {
  if (index > 0) Set(row, static_cast<std::size_t>(index), text);
}

void ConsoleRun::Set(RowHandle row, std::size_t column, const std::string& text) {
  if (row == current_ && row != 0 && column < row_.size()) row_[column] = text;
}

void ConsoleRun::HandOut() {
  if (current_ == 0) return;
  current_ = 0;
  ++rows_;
  out_(row_);
}

void ConsoleRun::ShowProgress(bool last) {
  if (!progress_) return;
  shown_ = Clock::now();
  const double seconds = std::chrono::duration<double>(shown_ - started_).count();
  char rate[48];
  std::snprintf(rate, sizeof rate, ", %.1f rows/s", seconds > 0 ? static_cast<double>(rows_) / seconds : 0.0);
  const auto rows = static_cast<std::int64_t>(rows_);
  std::string line = topic_ + (last ? ": " + protocol::Counted(rows, "row") : ": row " + std::to_string(rows)) + rate;
  const std::size_t width = line.size();
  // Blanks over what is left of a longer line before it.
  if (width < shownWidth_) line.append(shownWidth_ - width, ' ');
  shownWidth_ = last ? 0 : width;
  std::fprintf(progress_, "\r%s%s", line.c_str(), last ? "\n" : "");
  std::fflush(progress_);
}

}  // namespace quillet::cli
