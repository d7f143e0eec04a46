#pragma once
// What a research run sees of the window. TForm1 implements these over the real controls;
// tests implement them with scripted fakes, so that a Stop, an Esc, a sort or a new Start
// arriving at a given pump can be played exactly.
#include <cstdint>
#include <exception>
#include <string>

namespace quillet {

// Identifies one row of a result list for as long as the list is not cleared; it survives
// sorting. 0 is never a valid handle.
using RowHandle = std::uint32_t;

class ResultList {
 public:
  virtual ~ResultList() = default;
  // Removes every row; every handle given out so far becomes invalid.
  virtual void Clear() = 0;
  // Appends an empty, unticked row and returns its handle.
  virtual RowHandle AddRow() = 0;
  // The setters do nothing for a handle that is no longer valid, so a run can never write
  // into the rows of a later run.
  virtual void SetCaption(RowHandle row, const std::string& text) = 0;
  // index counts from 1 (sub-item 1 is the second column). Missing sub-items before it are
  // created empty.
  virtual void SetSubItem(RowHandle row, int index, const std::string& text) = 0;
  virtual void SetChecked(RowHandle row, bool checked) = 0;
};

class RunWindow {
 public:
  virtual ~RunWindow() = default;
  virtual void SetStatus(const std::string& text) = 0;
  // One pass of the message pump: handles every pending message and returns.
  virtual void ProcessMessages() = 0;
  // Whether Esc is held down (keyboard state as of the last input message handled).
  virtual bool EscapeHeld() = 0;
  // A failure the run swallows for the user (it ends the row or the lookup quietly) is
  // handed here for the developer: where, and the exception. Must not throw. A window that
  // does not listen drops it.
  virtual void ReportFailure(const char* /*place*/, std::exception_ptr /*error*/) {}
};

}  // namespace quillet
