#pragma once
// A small client of ClickHouse's HTTP interface: one statement per request, an answer of
// bounded size, and a deadline for the whole exchange (connect, send, wait, read), so that a
// slow or stopped server costs a request no more than its time budget. Whatever answers on
// the port, the client never holds more than the cap: an answer that announces more is
// refused before its body is read, and the body is read in pieces of bounded size, the size
// and the deadline checked between pieces (a sender that never pauses is stopped too). Any
// failure, the server's own error included, is thrown as ClickHouseError.
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "services/store/Store.h"

namespace quillet::services {

class ClickHouseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A table sent along with a statement, which reads it by name ("WHERE x IN name"): a long
// list costs the server a parse of its rows instead of a parse of as many SQL literals,
// about a tenth of the time for ten thousand names.
struct ExternalTable {
  std::string name;
  std::string structure;  // its columns, "name String"
  std::string rows;       // TabSeparated, a line per row
};

// One server, named by a URL "http://HOST[:PORT][/][?PARAMS]"; PARAMS (user=...&password=...,
// settings) go with every request. Safe to use from several threads at once.
class ClickHouseNode {
 public:
  // Throws ClickHouseError for a URL of another form or a host that cannot be resolved.
  explicit ClickHouseNode(const std::string& url);

  // Runs the statement and returns the body of the answer. With data, the statement goes in
  // the URL and data is the body (INSERT ... FORMAT ...). settings are more URL parameters,
  // already encoded ("a=1&b=2"). An answer larger than maxAnswer is an error.
  std::string Run(std::string_view statement, Deadline deadline, std::size_t maxAnswer, std::string_view settings = {},
                  std::string_view data = {}) const;
  // Runs the statement with the tables it reads.
  std::string Run(std::string_view statement, const std::vector<ExternalTable>& tables, Deadline deadline,
                  std::size_t maxAnswer, std::string_view settings = {}) const;

  const std::string& Url() const { return url_; }

 private:
  std::string Exchange(const std::string& target, std::string_view contentType, std::string body, Deadline deadline,
                       std::size_t maxAnswer) const;

  std::string url_;
  std::string host_;
  std::string params_;
  std::vector<std::pair<std::string, unsigned short>> endpoints_;  // resolved addresses
};

// An HTTP answer read as its bytes arrive, in memory bounded by its caps: the status line
// and headers by limits::kMaxClickHouseHeader, the body by maxAnswer. Throws
// ClickHouseError for a malformed answer, an oversized header, or a body (announced or
// read) larger than maxAnswer; never holds more than that.
class AnswerReader {
 public:
  explicit AnswerReader(std::size_t maxAnswer);
  ~AnswerReader();
  AnswerReader(const AnswerReader&) = delete;
  AnswerReader& operator=(const AnswerReader&) = delete;

  // The next bytes of the answer; true once it is complete (bytes after it are ignored).
  bool Feed(std::string_view bytes);
  // The connection ended: true when that completes the answer (one without a length).
  bool End();
  int Status() const;
  const std::string& Body() const { return body_; }
  std::string TakeBody() { return std::move(body_); }

 private:
  bool Parse();

  struct Parser;
  std::unique_ptr<Parser> parser_;
  std::size_t maxAnswer_;
  std::string pending_;  // bytes not yet parsed (a header not yet whole)
  std::string body_;
};

// A string as a ClickHouse SQL literal, quotes included.
std::string SqlString(std::string_view text);
// Appends a field in ClickHouse's TabSeparated escaping.
void AppendTsvField(std::string& out, std::string_view field);
// The rows of a TabSeparated answer, fields unescaped.
std::vector<std::vector<std::string>> ParseTsv(std::string_view body);

}  // namespace quillet::services
