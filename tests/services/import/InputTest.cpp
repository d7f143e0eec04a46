// InputFile reading ahead on its second thread against the same file read on the caller's
// thread alone: the same content and, after every read, the same state.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/services/support/Gzip.h"
#include "tests/services/support/MemorySource.h"

namespace quillet::services {
namespace {

using testing::Gzip;
using testing::MemorySource;

constexpr std::size_t kRead = 256 * 1024;  // as a line reader asks

// Memory handed out in pieces, counted in *given, failing once `fails` bytes have been.
class TestSource : public MemorySource {
 public:
  TestSource(std::string bytes, std::size_t piece, std::size_t fails, std::size_t* given)
      : MemorySource(std::move(bytes), piece), fails_(fails), given_(given) {}
  std::size_t Read(char* out, std::size_t size) override {
    if (*given_ >= fails_) throw InputError("the disk failed");
    std::size_t n = MemorySource::Read(out, std::min(size, fails_ - *given_));
    *given_ += n;
    return n;
  }

 private:
  std::size_t fails_;
  std::size_t* given_;
};

// Numbered lines, so that a chunk out of place shows.
std::string Text(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += "line " + std::to_string(i) + " of a page about dog training\n";
  return text;
}
// The text in gzip members of `member` bytes each, as a crawl archive packs its records.
std::string Members(const std::string& text, std::size_t member) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); at += member) out += Gzip(text.substr(at, member));
  return out;
}
std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out + "\x3D\xD8\x15\xDC";  // a pair: U+1F415
}

struct Step {
  std::size_t got, at;
  std::int64_t consumed, size, verified;
  InputFile::Ending ending;
  std::string damage;
  bool operator==(const Step&) const = default;
};
struct Trace {
  std::string content, error;
  std::vector<Step> steps;
};

Trace ReadAll(std::unique_ptr<ByteSource> source, std::int64_t after, std::size_t read = kRead) {
  Trace trace;
  InputFile input(std::move(source), ReadAhead{after});
  std::string buffer(read, '\0');
  try {
    while (true) {
      std::size_t got = input.Read(buffer.data(), buffer.size());
      trace.content.append(buffer.data(), got);
      trace.steps.push_back({got, trace.content.size(), input.Consumed(), input.Size(), input.Verified(),
                             input.HowItEnded(), input.Damage()});
      if (got == 0) break;
    }
  } catch (const InputError& error) {
    trace.error = error.what();
  }
  return trace;
}

TEST(InputFile, ReadingAheadChangesNothingTheCallerSees) {
  const std::string text = Text(40000);  // about 1.5 MB: several chunks
  const std::string members = Members(text, 20000);
  const std::string damaged = [&] {
    // A wrong check value in the trailer of a member some way in.
    std::string bytes = Members(text.substr(0, 700000), 20000);
    bytes[bytes.size() - 8] ^= 1;
    return bytes + Members(text.substr(700000), 20000);
  }();
  const std::string utf16 = Utf16Le(text.substr(0, 600000));
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t piece, fails;
    InputFile::Ending ending;
    bool verifiedWithin;  // Verified() never past the content handed out: UTF-8 in members
  } cases[] = {
      {"members", members, 100000, SIZE_MAX, InputFile::Ending::kWhole, true},
      {"cut short inside a member", members.substr(0, members.size() * 2 / 3), 65536, SIZE_MAX,
       InputFile::Ending::kCutShort, true},
      {"a damaged member after good ones", damaged, SIZE_MAX, SIZE_MAX, InputFile::Ending::kDamaged, true},
      {"trailing garbage", members + "not a member\n", 100000, SIZE_MAX, InputFile::Ending::kTrailingData, true},
      {"UTF-16 in members", Members(utf16, 30001), 100000, SIZE_MAX, InputFile::Ending::kWhole, false},
      {"a source that fails, packed", members, 100000, members.size() / 2, InputFile::Ending::kWhole, true},
      {"a source that fails, plain", text, 70000, 1000000, InputFile::Ending::kWhole, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t given = 0;
    auto source = [&] {
      given = 0;
      return std::make_unique<TestSource>(c.bytes, c.piece, c.fails, &given);
    };
    Trace alone = ReadAll(source(), INT64_MAX);
    EXPECT_EQ(alone.steps.back().ending, c.ending);
    EXPECT_EQ(alone.error.empty(), c.fails == SIZE_MAX);
    for (std::int64_t after : {std::int64_t{1}, std::int64_t{300000}}) {
      Trace ahead = ReadAll(source(), after);
      EXPECT_TRUE(ahead.content == alone.content) << "after " << after;
      EXPECT_EQ(ahead.error, alone.error) << "after " << after;
      EXPECT_EQ(ahead.steps, alone.steps) << "after " << after;
    }
    // Reads that end inside chunks: the same content, and a state never ahead of it.
    Trace small = ReadAll(source(), 1, 100000);
    EXPECT_TRUE(small.content == alone.content);
    EXPECT_EQ(small.error, alone.error);
    if (alone.error.empty()) {
      EXPECT_EQ(small.steps.back(), alone.steps.back());
    }
    for (const Step& step : small.steps) {
      if (c.verifiedWithin && step.ending != InputFile::Ending::kCutShort) {
        EXPECT_LE(step.verified, static_cast<std::int64_t>(step.at)) << "at " << step.at;
      }
    }
  }
  // Checks of the inputs themselves: the cases do what their names say.
  EXPECT_EQ(ReadAll(std::make_unique<MemorySource>(members), 1).content, text);
  EXPECT_EQ(ReadAll(std::make_unique<MemorySource>(Members(utf16, 30001)), 1).content,
            text.substr(0, 600000) + "\xF0\x9F\x90\x95");
}

// A caller that stops early: the second thread stops too, mid-chunk when its source hands
// out little at a time, having read no more than its bounded way ahead.
TEST(InputFile, StoppingEarlyEndsTheReadingAhead) {
  // UTF-16 is decoded until a chunk is full, so a chunk takes many reads of a source like this.
  const std::string packed = Members(Utf16Le(Text(200000)), 1 << 20);
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t piece, most;  // most: of the source read by the end
  } cases[] = {
      {"plain", std::string(16 << 20, 'a'), 65536, 10 * kRead},
      {"packed UTF-16, a little at a time", packed, 1024, packed.size() / 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t given = 0;
    {
      InputFile input(std::make_unique<TestSource>(c.bytes, c.piece, SIZE_MAX, &given), ReadAhead{1});
      std::string buffer(kRead, '\0');
      for (int i = 0; i < 3; ++i) ASSERT_GT(input.Read(buffer.data(), buffer.size()), 0u);
    }
    EXPECT_LE(given, c.most);
  }
}

}  // namespace
}  // namespace quillet::services
