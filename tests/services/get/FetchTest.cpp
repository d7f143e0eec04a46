// Fetcher and its downloads against a scripted client: the exact requests each decision
// sends (Range and If-Range above all), what the reader gets, and what people are told.
#include <gtest/gtest.h>

#include "services/Limits.h"
#include "services/get/Download.h"
#include "tests/services/support/ScriptedHttp.h"

namespace quillet::services {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::Reply;
using testing::ScriptedHttp;

const std::string kUrl = "http://m/f.gz";

// Expects the requests in this order, each answered with its reply; a request past the end
// fails the test and is refused.
ScriptedHttp::Answer Script(std::vector<std::pair<std::string, Reply>> exchanges) {
  auto queue = std::make_shared<std::deque<std::pair<std::string, Reply>>>(exchanges.begin(), exchanges.end());
  return [queue](const HttpRequest& request) {
    if (queue->empty()) {
      ADD_FAILURE() << "unexpected request " << testing::Describe(request);
      Reply refused;
      refused.refused = HttpFault::kConnect;
      return refused;
    }
    auto [expected, reply] = std::move(queue->front());
    queue->pop_front();
    EXPECT_EQ(testing::Describe(request), expected);
    return reply;
  };
}

std::string Bytes(std::size_t n) {
  std::string bytes = "\x1f\x8b";
  for (std::size_t i = bytes.size(); i < n; ++i) bytes += static_cast<char>('a' + i % 26);
  return bytes;
}

Reply Whole(const std::string& body, std::string etag = "\"e1\"", std::string lastModified = "") {
  Reply reply = testing::Status(200);
  reply.body = body;
  reply.head.length = static_cast<std::int64_t>(body.size());
  reply.head.etag = std::move(etag);
  reply.head.lastModified = std::move(lastModified);
  return reply;
}
Reply Rest(const std::string& body, std::size_t from) {
  Reply reply = testing::Status(206);
  reply.body = body.substr(from);
  reply.head.length = static_cast<std::int64_t>(reply.body.size());
  reply.head.rangeStart = static_cast<std::int64_t>(from);
  reply.head.rangeWhole = static_cast<std::int64_t>(body.size());
  reply.head.etag = "\"e1\"";
  return reply;
}
Reply Cut(Reply reply, std::size_t after) {
  reply.cutAfter = after;
  return reply;
}
Reply Unsized(Reply reply) {
  reply.head.length = -1;
  return reply;
}

struct Fetched {
  std::string bytes;
  FetchFailure failure = FetchFailure::kNone;
  std::string error;
};

Fetched Fetch(ScriptedHttp& client, std::vector<std::string>* notes, const std::string& url = kUrl) {
  Fetcher fetcher = client.MakeFetcher([notes](const std::string& note) { notes->push_back(note); });
  Fetched fetched;
  try {
    std::unique_ptr<ByteSource> source = fetcher.Open(url, -1, true, &fetched.failure);
    char chunk[4096];
    while (std::size_t n = source->Read(chunk, sizeof chunk)) fetched.bytes.append(chunk, n);
  } catch (const FetchError& error) {
    fetched.error = error.what();
  }
  return fetched;
}

bool AnySays(const std::vector<std::string>& notes, const std::string& text) {
  return std::any_of(notes.begin(), notes.end(),
                     [&](const std::string& note) { return note.find(text) != std::string::npos; });
}

TEST(Fetch, ACutTransferResumesWithRangeAndTheRightIfRange) {
  const std::string body = Bytes(300);
  struct Case {
    const char* name;
    Reply first;
    std::string ifRange;
  };
  const Case cases[] = {
      {"a strong ETag", Whole(body, "\"e1\"", "Wed, 01 May 2024 10:00:00 GMT"), "\"e1\""},
      {"a weak ETag gives way to the date", Whole(body, "W/\"e1\"", "Wed, 01 May 2024 10:00:00 GMT"),
       "Wed, 01 May 2024 10:00:00 GMT"},
      {"a date alone", Whole(body, "", "Wed, 01 May 2024 10:00:00 GMT"), "Wed, 01 May 2024 10:00:00 GMT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedHttp client(Script(
        {{"GET " + kUrl, Cut(c.first, 100)}, {"GET " + kUrl + " from=100 if-range=" + c.ifRange, Rest(body, 100)}}));
    std::vector<std::string> notes;
    const Fetched fetched = Fetch(client, &notes);
    EXPECT_EQ(fetched.bytes, body);
    EXPECT_TRUE(AnySays(notes, "resuming at 100 bytes")) << ::testing::PrintToString(notes);
  }
}

TEST(Fetch, ABodyWithoutALengthIsWholeOnlyWhenTheServerSaysSo) {
  const std::string body = Bytes(300);
  // Cut at 150 and closed as if whole: asked for the rest, which comes.
  {
    ScriptedHttp client(Script({{"GET " + kUrl, Unsized(Whole(body.substr(0, 150)))},
                                {"GET " + kUrl + " from=150 if-range=\"e1\"", Rest(body, 150)},
                                {"GET " + kUrl + " from=300 if-range=\"e1\"", testing::Status(416)}}));
    std::vector<std::string> notes;
    EXPECT_EQ(Fetch(client, &notes).bytes, body);
    EXPECT_TRUE(notes.empty()) << ::testing::PrintToString(notes);
  }
  // Whole: the server has nothing past it.
  {
    ScriptedHttp client(Script(
        {{"GET " + kUrl, Unsized(Whole(body))}, {"GET " + kUrl + " from=300 if-range=\"e1\"", testing::Status(416)}}));
    std::vector<std::string> notes;
    EXPECT_EQ(Fetch(client, &notes).bytes, body);
  }
}

TEST(Fetch, ATransferSlowerThanTheLowestSpeedIsResumed) {
  const std::string body = Bytes(97 * 1000);
  Reply trickle = Whole(body);
  trickle.piece = 1;
  trickle.perPiece = seconds(30);
  ScriptedHttp client(Script({{"GET " + kUrl, trickle}, {"GET " + kUrl + " from=2 if-range=\"e1\"", Rest(body, 2)}}));
  std::vector<std::string> notes;
  const Fetched fetched = Fetch(client, &notes);
  EXPECT_EQ(fetched.bytes, body) << fetched.error;
  EXPECT_TRUE(AnySays(notes, "slower than 1 kB a second")) << ::testing::PrintToString(notes);
  EXPECT_LE(client.Now().time_since_epoch(), std::chrono::minutes(2));
}

}  // namespace
}  // namespace quillet::services
