#include "services/store/clickhouse/Http.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <charconv>

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

std::string ClickHouseNode::Run(std::string_view statement, Deadline deadline, std::size_t maxAnswer,
                                std::string_view settings, std::string_view data) const {
  std::string target = "/?";
  auto add = [&](std::string_view param) {
    if (param.empty()) return;
    if (target.size() > 2) target += '&';
    target += param;
  };
  add(params_);
  add(settings);
  if (!data.empty()) add("query=" + PercentEncode(statement));

  http::request<http::string_body> request{http::verb::post, target, 11};
  request.set(http::field::host, host_);
  request.body() = data.empty() ? std::string(statement) : std::string(data);
  request.prepare_payload();

  asio::io_context io;
  beast::tcp_stream stream(io);
  if (deadline.At() == Deadline::None().At()) stream.expires_never();
  else stream.expires_at(deadline.At());
  std::vector<tcp::endpoint> endpoints;
  for (const auto& [address, port] : endpoints_) endpoints.emplace_back(asio::ip::make_address(address), port);
  beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.body_limit(maxAnswer);
  error_code failure;
  const char* step = "connect";
  stream.async_connect(endpoints, [&](error_code ec, const tcp::endpoint&) {
    if (ec) return void(failure = ec);
    step = "send";
    http::async_write(stream, request, [&](error_code ec, std::size_t) {
      if (ec) return void(failure = ec);
      step = "answer";
      http::async_read(stream, buffer, parser, [&](error_code ec, std::size_t) { failure = ec; });
    });
  });
  io.run();
  if (failure == beast::error::timeout) throw ClickHouseError(url_ + ": no answer in time (" + step + ")");
  if (failure == http::error::body_limit)
    throw ClickHouseError(url_ + ": answer larger than " + std::to_string(maxAnswer) + " bytes");
  if (failure) throw ClickHouseError(url_ + ": " + step + " failed: " + failure.message());
  const auto& response = parser.get();
  if (response.result() != http::status::ok) throw ClickHouseError(url_ + ": " + Excerpt(response.body()));
  return std::move(parser.release().body());
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
