#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "net/Socket.h"
#include "tests/support/LoopbackServer.h"

namespace quillet::test {
namespace {

using Clock = std::chrono::steady_clock;

// A raw client: sends bytes and keeps the connection open.
Socket ConnectAndSend(const LoopbackServer& server, const std::string& bytes) {
  Socket client = Socket::Connect("127.0.0.1", server.Port(), 2'000);
  EXPECT_TRUE(client.IsOpen());
  EXPECT_TRUE(client.SendAll(bytes, 2'000));
  return client;
}

std::string ReadToClose(Socket& client) {
  std::string received;
  char buffer[1024];
  for (;;) {
    const auto got = client.Receive(buffer, sizeof buffer, 2'000);
    if (got.status != Socket::Status::kData) return received;
    received.append(buffer, got.bytes);
  }
}

TEST(LoopbackServer, PlaysTheScriptAndRecordsTheRequestHead) {
  LoopbackServer server({Send("ab"), Sleep(20), Trickle("cd", 5), Close(), Send("never")});
  EXPECT_EQ(server.BaseUrl(), "http://127.0.0.1:" + std::to_string(server.Port()));
  Socket client = ConnectAndSend(server, "GET /x?y HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(ReadToClose(client), "abcd");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "GET /x?y HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(RequestTarget(server.Requests()[0]), "/x?y");
}

TEST(LoopbackServer, RouteAnswersByTarget) {
  LoopbackServer server([](const std::string& target) { return "for " + target; });
  for (const std::string target : {"/a", "/b?c=d"}) {
    Socket client = ConnectAndSend(server, "GET " + target + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(ReadToClose(client), "for " + target);
  }
  EXPECT_EQ(server.Requests().size(), 2u);
}

// The destructor must not wait for a client that holds its connection open.
TEST(LoopbackServer, StopsPromptlyInTheMiddleOfAnAnswer) {
  const std::vector<Action> scripts[] = {{Hang()}, {Sleep(60'000)}, {Trickle(std::string(10'000, 'x'), 50)}};
  for (const auto& script : scripts) {
    std::optional<LoopbackServer> server(script);
    Socket client = ConnectAndSend(*server, "GET / HTTP/1.1\r\n\r\n");
    char byte;
    client.Receive(&byte, 1, 100);
    const auto start = Clock::now();
    server.reset();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
  }
}

}  // namespace
}  // namespace quillet::test
