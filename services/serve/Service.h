#pragma once
// Answers the requests of the three outside services from a store. A request is first read
// and checked without the store (Prepare): refusals, unknown paths and empty topics are
// answered there, so that the HTTP server can answer them at once on its event loop. What
// needs the store is then run under the request's deadline (Run, on a worker thread); past
// it, or when the store cannot answer in full, the answer is a page without data (503),
// which the program shows as its placeholders. Safe to call from several threads at once.
//
// A stalled store (a paused server, a hung disk) would otherwise cost every request its
// whole budget: once a request has run out of time without the store answering anything
// since it started, the store counts as stalled, and requests get 503 at once, but for one
// at a time that is let through to see whether it answers again (the first that gets an
// answer ends the stall, so service resumes with the store).
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "services/Limits.h"
#include "services/store/Store.h"

namespace quillet::services {

class Log;

struct Reply {
  int status = 200;
  std::string body;
};

class Service {
 public:
  // A request read and checked: its answer when it needs no store, else the store work.
  struct Prepared {
    std::optional<Reply> reply;
    std::function<Reply(Deadline)> work;  // renders the page from what the store answers
  };

  // store (and log, when given) must outlive the service. Store failures are logged.
  explicit Service(StoreReader& store, std::chrono::milliseconds budget = limits::kQueryBudget, Log* log = nullptr);

  // path without the query; rawQuery still encoded, without the '?'. Never throws.
  Prepared Prepare(std::string_view path, std::string_view rawQuery) const;
  // Runs the store work of a prepared request. A costly request (one known to take the
  // store long) that runs out of time does not mark the store stalled: that is its own cost.
  // target names the request in the log. Never throws.
  Reply Run(const Prepared& prepared, Deadline deadline, std::string_view target, bool costly = false);
  // Both, with the budget from now.
  Reply Respond(std::string_view path, std::string_view rawQuery);

  // True while the store counts as stalled and a request is already seeing whether it
  // answers: a new request would get 503 at once.
  bool FailingFast() const { return stalled_.load() && probing_.load(); }
  std::chrono::milliseconds Budget() const { return budget_; }
  // The page without data of a request that cannot be answered in time.
  static Reply Busy();

 private:
  StoreReader& store_;
  std::chrono::milliseconds budget_;
  Log* log_;
  std::mutex mutex_;
  Deadline::Clock::time_point lastAnswer_{};  // when the store last answered
  std::atomic<bool> stalled_{false};
  std::atomic<bool> probing_{false};
};

}  // namespace quillet::services
