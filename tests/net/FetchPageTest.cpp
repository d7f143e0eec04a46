#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/FetchPage.h"
#include "tests/support/LoopbackServer.h"

namespace quillet {
namespace {

using namespace quillet::test;
using Clock = std::chrono::steady_clock;

std::string Request(const std::string& target, const std::string& host) {
  return "GET " + target + " HTTP/1.1\r\nHost: " + host +
         "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n";
}

// Short bounds so that a test of a silent server ends quickly; still far longer than any
// loopback answer takes.
FetchLimits TestLimits() {
  FetchLimits limits;
  limits.connectTimeoutMs = 2'000;
  limits.readIdleTimeoutMs = 2'000;
  limits.overallDeadlineMs = 10'000;
  return limits;
}

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TEST(FetchPage, SendsExactlyTheFixedRequest) {
  LoopbackServer server({Send(HttpResponse("200 OK", "hello"))});
  EXPECT_EQ(FetchPage(server.BaseUrl() + "/d/x/?term=car%20hire&mkt=us#top"), "hello");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], Request("/d/x/?term=car%20hire&mkt=us", "127.0.0.1"));
}

TEST(FetchPage, SplitsTheUrlIntoHostAndTarget) {
  LoopbackServer server({Send(HttpResponse("200 OK", "ok"))});
  const std::string port = std::to_string(server.Port());
  struct Case {
    std::string url, target, host;
  };
  const Case cases[] = {
      {"http://127.0.0.1:" + port, "/", "127.0.0.1"},
      {"http://127.0.0.1:" + port + "/", "/", "127.0.0.1"},
      {"http://127.0.0.1:" + port + "#frag", "/", "127.0.0.1"},
      {"http://127.0.0.1:" + port + "?p=1", "/?p=1", "127.0.0.1"},
      {"http:\\\\127.0.0.1:" + port + "\\dir\\page.html", "/dir/page.html", "127.0.0.1"},
      {"http://127.0.0.1:" + port + "/search?p=%22a+b%22&n=10#r#s", "/search?p=%22a+b%22&n=10", "127.0.0.1"},
      {"HTTP://localhost:" + port + "/x y", "/x y", "localhost"},
  };
  for (const auto& c : cases) EXPECT_EQ(FetchPage(c.url, TestLimits()), "ok") << c.url;
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), std::size(cases));
  for (std::size_t i = 0; i < requests.size(); ++i)
    EXPECT_EQ(requests[i], Request(cases[i].target, cases[i].host)) << cases[i].url;
}

TEST(SplitUrl, PortAndRejectedForms) {
  struct Case {
    std::string url;
    bool ok;
    std::string host;
    int port;
    std::string target;
  };
  const Case cases[] = {
      {"http://search.example/search?p=x", true, "search.example", 80, "/search?p=x"},
      {"http://search.example:8080", true, "search.example", 8080, "/"},
      {"http://search.example:/a", true, "search.example", 80, "/a"},
      {"search.example/a", true, "search.example", 80, "/a"},
      {"http://a:65535/", true, "a", 65535, "/"},
      {"http://a:0/", false, "", 0, ""},
      {"http://a:65536/", false, "", 0, ""},
      {"http://a:8o/", false, "", 0, ""},
      {"http://:80/", false, "", 0, ""},
      {"http:///x", false, "", 0, ""},
      {"http://a/x\r\nX-Injected: 1", false, "", 0, ""},
      {std::string("http://a/x\0y", 12), false, "", 0, ""},
  };
  for (const auto& c : cases) {
    const UrlParts parts = SplitUrl(c.url);
    EXPECT_EQ(parts.ok, c.ok) << c.url;
    if (!c.ok || !parts.ok) continue;
    EXPECT_EQ(parts.host, c.host) << c.url;
    EXPECT_EQ(parts.port, c.port) << c.url;
    EXPECT_EQ(parts.target, c.target) << c.url;
  }
}

struct ResponseCase {
  const char* name;
  std::vector<Action> script;
  std::string expected;
};

// Every shape of answer: the page text is the body as it arrived, whatever the status,
// and exactly one request is made.
TEST(FetchPage, ReturnsTheBodyOfEveryResponseShape) {
  const std::string binary("a\0b\xFF\r\n\0", 7);
  const std::string head = "HTTP/1.1 200 OK\r\n";
  const std::string chunkedHead = head + "Transfer-Encoding: chunked\r\n\r\n";
  const ResponseCase cases[] = {
      {"404 with body", {Send(HttpResponse("404 Not Found", "<html>gone</html>"))}, "<html>gone</html>"},
      {"500 with body", {Send(HttpResponse("500 Internal Server Error", "oops"))}, "oops"},
      {"302 not followed",
       {Send(HttpResponse("302 Found", "moved", "Location: http://127.0.0.1:1/elsewhere\r\n"))},
       "moved"},
      {"200 with Location", {Send(HttpResponse("200 OK", "x", "Location: /y\r\n"))}, "x"},
      {"no length, read to close", {Send(head + "\r\nabc"), Sleep(50), Send("def")}, "abcdef"},
      {"HTTP/1.0, LF line ends", {Send("HTTP/1.0 200 OK\nServer: old\n\nline\n")}, "line\n"},
      {"binary body", {Send(HttpResponse("200 OK", binary))}, binary},
      {"header names ignore case", {Send(head + "cOnTeNt-LeNgTh: 3\r\n\r\nabcdef")}, "abc"},
      {"length longer than body", {Send(head + "Content-Length: 100\r\n\r\nshort")}, "short"},
      {"absurd length", {Send(head + "Content-Length: 99999999999999999999999\r\n\r\nabc")}, "abc"},
      {"length not a number", {Send(head + "Content-Length: 3x\r\n\r\nabcdef")}, "abcdef"},
      {"length zero on a kept-alive connection", {Send(head + "Content-Length: 0\r\n\r\n"), Hang()}, ""},
      {"204 on a kept-alive connection", {Send("HTTP/1.1 204 No Content\r\n\r\n"), Hang()}, ""},
      {"interim 100 answer", {Send("HTTP/1.1 100 Continue\r\n\r\n" + HttpResponse("200 OK", "final"))}, "final"},
      {"chunked", {Send(chunkedHead + "5\r\nhello\r\nA\r\n, chunked!\r\n0\r\n\r\n"), Hang()}, "hello, chunked!"},
      {"chunk extensions and comments",
       {Send(chunkedHead + "5;name=value\r\nhello\r\n1 comment\r\n!\r\n0\r\n\r\n"), Hang()},
       "hello!"},
      {"chunked split across packets",
       {Send(chunkedHead + "3\r\nab"), Sleep(30), Send("c\r\n2\r"), Sleep(30), Send("\nde\r\n0\r\n\r\n")},
       "abcde"},
      {"chunked wins over length",
       {Send(head + "Content-Length: 10\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n")},
       "ab"},
      {"trailer after last chunk", {Send(chunkedHead + "4\r\nabcd\r\n0\r\nX-Sum: 1\r\n\r\n"), Hang()}, "abcd"},
      {"unreadable chunk size", {Send(chunkedHead + "3\r\nabc\r\nzz\r\ndef\r\n")}, "abc"},
      {"huge chunk size", {Send(chunkedHead + "ffffffffffffffffffffff\r\nabc")}, "abc"},
      {"chunked cut short", {Send(chunkedHead + "10\r\nabc"), Close()}, "abc"},
      {"status not a number", {Send("HTTP/1.1 abc OK\r\nContent-Length: 2\r\n\r\nhi")}, ""},
      {"status missing", {Send("HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi")}, ""},
      {"not HTTP at all", {Send("hello world\r\n\r\nbody")}, ""},
      {"nothing at all", {Close()}, ""},
      {"headers cut short", {Send(head + "Content-Le"), Close()}, ""},
      {"trickled whole answer", {Trickle(HttpResponse("200 OK", "slow but sure"), 2)}, "slow but sure"},
  };
  for (const auto& c : cases) {
    LoopbackServer server(c.script);
    const auto start = Clock::now();
    EXPECT_EQ(FetchPage(server.BaseUrl() + "/p", TestLimits()), c.expected) << c.name;
    // None of these may wait for a time-out.
    EXPECT_LT(SecondsSince(start), 1.5) << c.name;
    EXPECT_EQ(server.Requests().size(), 1u) << c.name;
  }
}

TEST(FetchPage, EveryCallMakesItsOwnRequest) {
  LoopbackServer server([](const std::string& target) { return HttpResponse("200 OK", "page " + target); });
  EXPECT_EQ(FetchPage(server.BaseUrl() + "/a"), "page /a");
  EXPECT_EQ(FetchPage(server.BaseUrl() + "/b"), "page /b");
  EXPECT_EQ(FetchPage(server.BaseUrl() + "/a"), "page /a");
  EXPECT_EQ(server.Requests().size(), 3u);
}

// Servers that would hold the caller forever without the bounds.
TEST(FetchPage, SilentServerEndsAtTheIdleTimeOut) {
  FetchLimits limits = TestLimits();
  limits.readIdleTimeoutMs = 300;
  struct Case {
    const char* name;
    std::vector<Action> script;
    std::string expected;
  };
  const Case cases[] = {
      {"never answers", {Hang()}, ""},
      {"stops inside the headers", {Send("HTTP/1.1 200 OK\r\nContent-"), Hang()}, ""},
      {"stops inside the body", {Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\npart"), Hang()}, "part"},
      {"stops before the last chunk",
       {Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n"), Hang()},
       "ab"},
  };
  for (const auto& c : cases) {
    LoopbackServer server(c.script);
    const auto start = Clock::now();
    EXPECT_EQ(FetchPage(server.BaseUrl(), limits), c.expected) << c.name;
    const double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 0.25) << c.name;
    EXPECT_LT(seconds, 2.0) << c.name;
  }
}

TEST(FetchPage, TricklingServerEndsAtTheOverallDeadline) {
  const std::string body(2'000, 'x');
  LoopbackServer server({Send("HTTP/1.1 200 OK\r\n\r\n"), Trickle(body, 10)});
  FetchLimits limits = TestLimits();
  limits.overallDeadlineMs = 600;
  const auto start = Clock::now();
  const std::string page = FetchPage(server.BaseUrl(), limits);
  const double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 0.55);
  EXPECT_LT(seconds, 2.0);
  EXPECT_FALSE(page.empty());
  EXPECT_LT(page.size(), body.size());
  EXPECT_EQ(page, body.substr(0, page.size()));
}

TEST(FetchPage, BodyIsCutAtTheSizeBound) {
  const std::string body(5'000, 'b');
  std::string chunked;
  for (int i = 0; i < 50; ++i) chunked += "64\r\n" + body.substr(0, 100) + "\r\n";
  const std::pair<const char*, std::string> cases[] = {
      {"length", HttpResponse("200 OK", body)},
      {"read to close", "HTTP/1.1 200 OK\r\n\r\n" + body},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked + "0\r\n\r\n"},
  };
  FetchLimits limits = TestLimits();
  limits.maxBodyBytes = 1'000;
  for (const auto& [name, response] : cases) {
    // The server keeps the connection open: the bound itself must end the fetch.
    LoopbackServer server({Send(response), Hang()});
    const auto start = Clock::now();
    EXPECT_EQ(FetchPage(server.BaseUrl(), limits), body.substr(0, 1'000)) << name;
    EXPECT_LT(SecondsSince(start), 1.5) << name;
  }
}

TEST(FetchPage, EndlessHeaderLineEndsAtTheHeaderBound) {
  LoopbackServer server({Send("HTTP/1.1 200 OK\r\nX-Long: " + std::string(5'000, 'a')), Hang()});
  FetchLimits limits = TestLimits();
  limits.maxHeaderBytes = 1'000;
  const auto start = Clock::now();
  EXPECT_EQ(FetchPage(server.BaseUrl(), limits), "");
  EXPECT_LT(SecondsSince(start), 1.5);
}

TEST(FetchPage, ConnectThatNeverCompletesEndsAtTheConnectTimeOut) {
  BlackHoleListener listener;
  if (!listener.Ready()) GTEST_SKIP() << "could not fill the accept queue here";
  FetchLimits limits = TestLimits();
  limits.connectTimeoutMs = 300;
  const auto start = Clock::now();
  EXPECT_EQ(FetchPage("http://127.0.0.1:" + std::to_string(listener.Port()) + "/", limits), "");
  const double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 0.25);
  EXPECT_LT(seconds, 2.0);
}

TEST(FetchPage, RefusedConnectionGivesEmptyPageAtOnce) {
  const auto start = Clock::now();
  EXPECT_EQ(FetchPage("http://127.0.0.1:" + std::to_string(RefusingPort()) + "/x"), "");
  EXPECT_LT(SecondsSince(start), 5.0);
}

TEST(FetchPage, UnresolvableHostGivesEmptyPage) {
  EXPECT_EQ(FetchPage("http://no-such-host.invalid/search?p=x", TestLimits()), "");
}

}  // namespace
}  // namespace quillet
