#pragma once
// Answers the requests of the three outside services from a store. Respond is what the HTTP
// server calls on its worker threads; it is safe to call from several threads at once. Each
// request has a fixed time budget in the store (limits::kQueryBudget); past it, or when the
// store cannot answer in full, the answer is a page without data, which the program shows
// as its placeholders.
#include <chrono>
#include <string>
#include <string_view>

#include "services/Limits.h"
#include "services/store/Store.h"

namespace quillet::services {

struct Reply {
  int status = 200;
  std::string body;
};

class Service {
 public:
  // store must outlive the service.
  explicit Service(StoreReader& store, std::chrono::milliseconds budget = limits::kQueryBudget);

  // path without the query; rawQuery still encoded, without the '?'. Never throws.
  Reply Respond(std::string_view path, std::string_view rawQuery);

 private:
  Reply Suggest(std::string_view rawQuery, Deadline deadline);
  Reply Search(std::string_view rawQuery, Deadline deadline);
  Reply Traffic(std::string_view rawQuery, Deadline deadline);

  StoreReader& store_;
  std::chrono::milliseconds budget_;
};

}  // namespace quillet::services
