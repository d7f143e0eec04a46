#include "services/store/clickhouse/Http.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <charconv>
#include <functional>

#include "services/Limits.h"

#include "services/text/Strings.h"

namespace quillet::services {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

constexpr std::string_view kScheme = "http://";
constexpr unsigned short kDefaultPort = 8123;
// How much of an error answer goes into the exception.
constexpr std::size_t kErrorExcerpt = 600;
// How often a read that waits looks whether its request's client has gone.
constexpr std::chrono::milliseconds kAbandonCheck{50};

std::string Excerpt(std::string_view text) {
  std::string out(text.substr(0, kErrorExcerpt));
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

}  // namespace

ClickHouseNode::ClickHouseNode(const std::string& url) : url_(url) {
  std::string_view rest(url);
  if (rest.substr(0, kScheme.size()) != kScheme) throw ClickHouseError("not an http:// URL: " + url);
  rest.remove_prefix(kScheme.size());
  size_t mark = rest.find('?');
  if (mark != std::string_view::npos) {
    params_ = std::string(rest.substr(mark + 1));
    rest = rest.substr(0, mark);
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find('/') != std::string_view::npos) throw ClickHouseError("a ClickHouse URL has no path: " + url);
  unsigned short port = kDefaultPort;
  size_t colon = rest.rfind(':');
  size_t bracket = rest.rfind(']');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    std::string_view digits = rest.substr(colon + 1);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (ec != std::errc() || end != digits.data() + digits.size() || port == 0)
      throw ClickHouseError("bad port in " + url);
    rest = rest.substr(0, colon);
  }
  if (rest.size() >= 2 && rest.front() == '[' && rest.back() == ']') rest = rest.substr(1, rest.size() - 2);
  if (rest.empty()) throw ClickHouseError("no host in " + url);
  host_ = std::string(rest);
  asio::io_context io;
  tcp::resolver resolver(io);
  error_code ec;
  auto results = resolver.resolve(host_, std::to_string(port), ec);
  if (ec) throw ClickHouseError("cannot resolve " + host_ + ": " + ec.message());
  for (const auto& entry : results)
    endpoints_.emplace_back(entry.endpoint().address().to_string(), entry.endpoint().port());
}

struct AnswerReader::Parser {
  http::response_parser<http::buffer_body> parser;
  std::vector<char> piece = std::vector<char>(limits::kClickHouseReadPiece);
};

AnswerReader::AnswerReader(std::size_t maxAnswer) : parser_(std::make_unique<Parser>()), maxAnswer_(maxAnswer) {
  parser_->parser.header_limit(static_cast<std::uint32_t>(limits::kMaxClickHouseHeader));
  parser_->parser.body_limit(maxAnswer);
}

AnswerReader::~AnswerReader() = default;

int AnswerReader::Status() const { return parser_->parser.is_header_done() ? parser_->parser.get().result_int() : 0; }

bool AnswerReader::Feed(std::string_view bytes) {
  if (parser_->parser.is_done()) return true;
  pending_.append(bytes);
  return Parse();
}

bool AnswerReader::End() {
  if (parser_->parser.is_done()) return true;
  Parse();
  if (parser_->parser.is_done()) return true;
  error_code ec;
  parser_->parser.put_eof(ec);
  if (ec) throw ClickHouseError("the answer was cut short (" + ec.message() + ")");
  return parser_->parser.is_done();
}

bool AnswerReader::Parse() {
  auto& parser = parser_->parser;
  auto& piece = parser_->piece;
  while (!parser.is_done()) {
    parser.get().body().data = piece.data();
    parser.get().body().size = piece.size();
    error_code ec;
    std::size_t used = parser.put(asio::buffer(pending_.data(), pending_.size()), ec);
    std::size_t got = piece.size() - parser.get().body().size;
    pending_.erase(0, used);
    if (ec == http::error::body_limit || body_.size() + got > maxAnswer_) {
      // Refused on what it announces, before any of its body is read.
      if (parser.content_length() && *parser.content_length() > maxAnswer_)
        throw ClickHouseError("answer of " + std::to_string(*parser.content_length()) + " bytes announced, more than " +
                              std::to_string(maxAnswer_));
      throw ClickHouseError("answer larger than " + std::to_string(maxAnswer_) + " bytes");
    }
    body_.append(piece.data(), got);
    if (ec == http::error::need_more) {
      // Only a header not yet whole waits here, and a header has its own cap.
      if (pending_.size() > limits::kMaxClickHouseHeader) throw ClickHouseError("answer header too large");
      return false;
    }
    if (ec && ec != http::error::need_buffer) throw ClickHouseError("malformed answer (" + ec.message() + ")");
    // Beast checks an announced length against the body limit with the header; this holds
    // whatever version does the parsing.
    if (parser.is_header_done() && parser.content_length() && *parser.content_length() > maxAnswer_)
      throw ClickHouseError("answer of " + std::to_string(*parser.content_length()) + " bytes announced, more than " +
                            std::to_string(maxAnswer_));
    if (used == 0 && got == 0 && !parser.is_done()) return false;
  }
  return true;
}

namespace {

// "/?" and the parameters, each of them that is not empty.
std::string Target(std::initializer_list<std::string_view> params) {
  std::string target = "/?";
  for (std::string_view param : params) {
    if (param.empty()) continue;
    if (target.size() > 2) target += '&';
    target += param;
  }
  return target;
}

}  // namespace

std::string ClickHouseNode::Run(std::string_view statement, Deadline deadline, std::size_t maxAnswer,
                                std::string_view settings, std::string_view data) const {
  if (data.empty()) return Exchange(Target({params_, settings}), {}, std::string(statement), deadline, maxAnswer);
  return Exchange(Target({params_, settings, "query=" + PercentEncode(statement)}), {}, std::string(data), deadline,
                  maxAnswer);
}

std::string ClickHouseNode::Run(std::string_view statement, const std::vector<ExternalTable>& tables, Deadline deadline,
                                std::size_t maxAnswer, std::string_view settings) const {
  // A form of one file per table; the boundary is one that no table holds.
  std::string boundary = "quillet-table";
  while (std::any_of(tables.begin(), tables.end(),
                     [&](const ExternalTable& table) { return table.rows.find(boundary) != std::string::npos; }))
    boundary += '-';
  std::string structures, body;
  for (const ExternalTable& table : tables) {
    structures += (structures.empty() ? "" : "&") + table.name + "_structure=" + PercentEncode(table.structure);
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + table.name + "\"; filename=\"" +
            table.name + "\"\r\n\r\n" + table.rows + "\r\n";
  }
  body += "--" + boundary + "--\r\n";
  return Exchange(Target({params_, settings, structures, "query=" + PercentEncode(statement)}),
                  "multipart/form-data; boundary=" + boundary, std::move(body), deadline, maxAnswer);
}

std::string ClickHouseNode::Exchange(const std::string& target, std::string_view contentType, std::string body,
                                     Deadline deadline, std::size_t maxAnswer) const {
  http::request<http::string_body> request{http::verb::post, target, 11};
  request.set(http::field::host, host_);
  if (!contentType.empty()) request.set(http::field::content_type, std::string(contentType));
  request.body() = std::move(body);
  request.prepare_payload();

  asio::io_context io;
  beast::tcp_stream stream(io);
  if (deadline.At() == Deadline::None().At()) stream.expires_never();
  else stream.expires_at(deadline.At());
  std::vector<tcp::endpoint> endpoints;
  for (const auto& [address, port] : endpoints_) endpoints.emplace_back(asio::ip::make_address(address), port);
  AnswerReader answer(maxAnswer);
  std::vector<char> piece(limits::kClickHouseReadPiece);
  error_code failure;
  std::string malformed;
  bool outOfTime = false;
  const char* step = "connect";
  // Piece by piece: the deadline is checked between pieces, since a read that always finds
  // data never waits for the stream's timer.
  std::function<void()> readMore = [&] {
    if (deadline.Passed()) return void(outOfTime = true);
    stream.async_read_some(asio::buffer(piece), [&](error_code ec, std::size_t n) {
      try {
        if (ec == asio::error::eof) {
          if (!answer.End()) failure = ec;
          return;
        }
        if (ec) return void(failure = ec);
        if (!answer.Feed(std::string_view(piece.data(), n))) readMore();
      } catch (const ClickHouseError& error) {
        malformed = error.what();
      }
    });
  };
  stream.async_connect(endpoints, [&](error_code ec, const tcp::endpoint&) {
    if (ec) return void(failure = ec);
    step = "send";
    http::async_write(stream, request, [&](error_code ec, std::size_t) {
      if (ec) return void(failure = ec);
      step = "answer";
      readMore();
    });
  });
  // In slices, so that a request whose client has gone stops waiting too.
  while (!io.stopped()) {
    io.run_for(kAbandonCheck);
    if (!io.stopped() && deadline.Abandoned()) {
      outOfTime = true;
      beast::get_lowest_layer(stream).cancel();
    }
  }
  if (!malformed.empty()) throw ClickHouseError(url_ + ": " + malformed);
  if (outOfTime || failure == beast::error::timeout) throw ClickHouseError(url_ + ": no answer in time (" + step + ")");
  if (failure) throw ClickHouseError(url_ + ": " + step + " failed: " + failure.message());
  if (answer.Status() != 200) throw ClickHouseError(url_ + ": " + Excerpt(answer.Body()));
  return answer.TakeBody();
}

std::string SqlString(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "'";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\'' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "'";
}

void AppendTsvField(std::string& out, std::string_view field) {
  for (char c : field) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\0': out += "\\0"; break;
      default: out += c;
    }
  }
}

std::vector<std::vector<std::string>> ParseTsv(std::string_view body) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row(1);
  for (size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (c == '\n') {
      rows.push_back(std::move(row));
      row.assign(1, std::string());
    } else if (c == '\t') {
      row.emplace_back();
    } else if (c == '\\' && i + 1 < body.size()) {
      char e = body[++i];
      row.back() += e == 't'   ? '\t'
                    : e == 'n' ? '\n'
                    : e == 'r' ? '\r'
                    : e == '0' ? '\0'
                    : e == 'b' ? '\b'
                    : e == 'f' ? '\f'
                               : e;
    } else {
      row.back() += c;
    }
  }
  if (row.size() > 1 || !row[0].empty()) rows.push_back(std::move(row));
  return rows;
}

}  // namespace quillet::services
