// Whatever answers on the ClickHouse port (a broken server, another program, an attacker on
// the network between), a serving read ends within its deadline, holds no more than its cap
// and becomes a page without data (503) with a line in the log.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "services/serve/Log.h"
#include "services/serve/Service.h"
#include "services/store/clickhouse/ClickHouseStore.h"
#include "tests/services/support/Child.h"
#include "tests/services/support/Clients.h"
#include "tests/services/support/FakeClickHouse.h"
#include "tests/services/support/Fixtures.h"

namespace quillet::services {
namespace {

using std::chrono::milliseconds;
using testing::FakeClickHouse;
using testing::MsSince;

// Bytes after the header, at full speed, until the client goes.
void Flood(FakeClickHouse& server, int fd, const std::string& header, const std::string& piece) {
  if (!server.Send(fd, header)) return;
  while (server.Send(fd, piece)) {
  }
}

TEST(HostileClickHouseAnswers, EndInTimeWithinTheCapAsPagesWithoutData) {
  const std::string kilobytes(64 * 1024, 'x');
  std::string chunk = "10000\r\n" + kilobytes + "\r\n";
  struct Case {
    const char* name;
    FakeClickHouse::Answer answer;
    const char* said;  // in the log line
  };
  const std::vector<Case> cases = {
      {"announces a gigabyte and sends it at full speed",
       [&](FakeClickHouse& s, int fd) {
         Flood(s, fd, "HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\n", kilobytes);
       },
       "announced"},
      {"chunks without end at full speed",
       [&](FakeClickHouse& s, int fd) { Flood(s, fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", chunk); },
       "larger than"},
      {"a body that trickles past the deadline",
       [](FakeClickHouse& s, int fd) {
         if (!s.Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n")) return;
         while (s.Send(fd, std::string(100, '1'))) std::this_thread::sleep_for(milliseconds(2));
       },
       "in time"},
      {"headers without end",
       [&](FakeClickHouse& s, int fd) { Flood(s, fd, "HTTP/1.1 200 OK\r\n", "X-More: yes\r\n"); }, "header"},
      {"not HTTP", [](FakeClickHouse& s, int fd) { s.Send(fd, "SSH-2.0-OpenSSH_9.2\r\n\r\n"); }, "malformed"},
      {"rows of another shape", [](FakeClickHouse& s, int fd) { s.Send(fd, FakeClickHouse::Ok("1\t2\t3\n")); },
       "shape"},
      {"no row", [](FakeClickHouse& s, int fd) { s.Send(fd, FakeClickHouse::Ok("")); }, "no row"},
      {"not a number", [](FakeClickHouse& s, int fd) { s.Send(fd, FakeClickHouse::Ok("lots\n")); }, "number"},
      {"cut short", [](FakeClickHouse& s, int fd) { s.Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n12"); },
       "cut short"},
      {"the server's own error",
       [](FakeClickHouse& s, int fd) {
         s.Send(fd, "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 26\r\n\r\nCode: 159, Timeout exceeded");
       },
       "Code: 159"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeClickHouse fake(c.answer);
    ClickHouseOptions options;
    options.nodes = {fake.Url()};
    ClickHouseReader reader(options);
    std::FILE* logFile = std::tmpfile();
    Log log(logFile);
    Service service(reader, milliseconds(1000), &log);
    auto start = testing::Clock::now();
    Reply reply = service.Respond("/search", "p=link%3Ahttp%3A%2F%2Fhub.example");
    EXPECT_EQ(reply.status, 503);
    EXPECT_LT(MsSince(start), 1600.0);
    EXPECT_EQ(reply.body.find("of about"), std::string::npos);
    std::rewind(logFile);
    std::string logged(4096, '\0');
    logged.resize(std::fread(logged.data(), 1, logged.size(), logFile));
    std::fclose(logFile);
    EXPECT_NE(logged.find("store failure (503) for /search?p=link%3Ahttp%3A%2F%2Fhub.example"), std::string::npos)
        << logged;
    EXPECT_NE(logged.find(c.said), std::string::npos) << logged;
  }
}

// The real program serving from something that announces a gigabyte to every read.
TEST(HostileClickHouseAnswers, TheServersMemoryStaysFlatWhenAGigabyteIsAnnounced) {
  const std::string kilobytes(64 * 1024, 'x');
  FakeClickHouse fake([&](FakeClickHouse& s, int fd) {
    Flood(s, fd, "HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\n", kilobytes);
  });
  testing::ScratchDir dir;
  int port = testing::FreePort();
  testing::Child serve({"serve", "--clickhouse", fake.Url(), "--listen", "127.0.0.1:" + std::to_string(port)},
                       {0, dir.File("serve.out")});
  auto started = testing::Clock::now();
  while (testing::StatusOf(testing::Exchange(port, testing::ProgramRequest("/"))) != 404 && MsSince(started) < 10000)
    std::this_thread::sleep_for(milliseconds(50));
  double baseline = testing::ResidentMb(serve.Pid(), false);
  std::vector<std::thread> clients;
  for (int i = 0; i < 8; ++i)
    clients.emplace_back([port] {
      for (int k = 0; k < 3; ++k)
        EXPECT_EQ(testing::StatusOf(testing::Exchange(
                      port, testing::ProgramRequest("/search?p=link%3Ahttp%3A%2F%2Fh" + std::to_string(k) + ".com"))),
                  503);
    });
  for (auto& client : clients) client.join();
  EXPECT_GE(fake.Reads(), 1);
  EXPECT_LT(testing::ResidentMb(serve.Pid(), true) - baseline, 24.0);
}

}  // namespace
}  // namespace quillet::services
