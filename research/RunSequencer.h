#pragma once
// Keeps the runs of one research command strictly one after another. Runs happen inside
// event handlers and pump messages between their steps, so a second start can arrive nested
// inside a running one. Such a start only stops the running run and asks for a restart,
// which is carried out once that run has returned: an interrupted run can therefore never
// go on writing into the list of a newer run.
#include <functional>

namespace quillet {

class RunSequencer {
 public:
  using Action = std::function<void()>;

  // run is one whole run; it is repeated while starts arrived during it. A start nested in
  // a run calls stopRunning (press the Stop buttons) and returns.
  void Start(const Action& stopRunning, const Action& run) {
    if (busy_) {
      stopRunning();
      pending_ = true;
      return;
    }
    busy_ = true;
    try {
      do {
        pending_ = false;
        run();
      } while (pending_);
    } catch (...) {
      busy_ = pending_ = false;
      throw;
    }
    busy_ = false;
  }

  // A run calls this once it has taken in the user's input: starts that came before are
  // covered by the run itself.
  void ForgetPending() { pending_ = false; }
  bool Busy() const { return busy_; }

 private:
  bool busy_ = false;
  bool pending_ = false;
};

}  // namespace quillet
