#include "services/import/Input.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <filesystem>
#include <mutex>
#include <thread>

#include "services/text/Utf8.h"

namespace quillet::services {
namespace {

constexpr std::size_t kRawChunk = 256 * 1024;
constexpr std::size_t kLineChunk = 256 * 1024;
// Read ahead: chunks of content as a line reader asks for them, and how many there are in all
// (the caller's, the one being made, the rest ready), which bounds the memory.
constexpr std::size_t kAheadChunk = kLineChunk;
constexpr int kAheadChunks = 5;

// Thrown on the second thread to leave a read half done when its InputFile goes.
struct Stopping {};

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
#ifdef _WIN32
  std::u16string name = Utf16FromUtf8(path), wideMode = Utf16FromUtf8(mode);
  return name.empty() ? nullptr
                      : _wfopen(reinterpret_cast<const wchar_t*>(name.c_str()),
                                reinterpret_cast<const wchar_t*>(wideMode.c_str()));
#else
  return std::fopen(path.c_str(), mode);
#endif
}

struct InputFile::Inflater {
  z_stream stream{};
  bool open = false;
  bool atMemberStart = true;
  ~Inflater() {
    if (open) inflateEnd(&stream);
  }
};

namespace {

class FileSource : public ByteSource {
 public:
  explicit FileSource(const std::string& path) : path_(path), file_(OpenFile(path, "rb")) {
    if (!file_) throw InputError("cannot open " + path + ": " + std::strerror(errno));
    if (std::fseek(file_, 0, SEEK_END) == 0) {
#ifdef _WIN32
      long long end = _ftelli64(file_);
#else
      long long end = ftello(file_);
#endif
      size_ = end > 0 ? end : 0;
      std::rewind(file_);
    }
  }
  ~FileSource() override { std::fclose(file_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::size_t Read(char* out, std::size_t size) override {
    std::size_t n = std::fread(out, 1, size, file_);
    if (n < size && std::ferror(file_)) throw InputError("cannot read " + path_ + ": " + std::strerror(errno));
    return n;
  }
  std::int64_t Size() const override { return size_; }
  const std::string& Name() const override { return path_; }

 private:
  std::string path_;
  std::FILE* file_;
  std::int64_t size_ = 0;
};

}  // namespace

std::unique_ptr<ByteSource> OpenFileSource(const std::string& path) { return std::make_unique<FileSource>(path); }

std::string AbsolutePath(const std::string& path) {
  // Through UTF-8 paths: a plain std::string would be read in the ANSI code page on Windows.
  std::error_code failed;
  std::u8string absolute =
      std::filesystem::absolute(std::filesystem::path(std::u8string(path.begin(), path.end())), failed).u8string();
  return failed ? path : std::string(absolute.begin(), absolute.end());
}

struct InputFile::Chunk {
  std::unique_ptr<char[]> bytes = std::make_unique_for_overwrite<char[]>(kAheadChunk);
  std::size_t size = 0;  // 0: the end of the content, or the error
  State state;           // after its last byte
  std::exception_ptr error;
};

// The second thread and the chunks it hands over. Its chunks and their lists are all made
// before it starts, so that the thread itself allocates nothing outside its error handling.
struct InputFile::Ahead {
  explicit Ahead(InputFile& input) {
    ready.reserve(kAheadChunks);
    spare.reserve(kAheadChunks);
    for (int i = 0; i < kAheadChunks; ++i) spare.push_back(std::make_unique<Chunk>());
    input.stopping_ = &stop;
    thread = std::thread([this, &input] { Work(input); });
  }
  ~Ahead() {
    {
      std::lock_guard<std::mutex> lock(mutex);  // so that a wait cannot miss it
      stop = true;
    }
    changed.notify_all();
    thread.join();
  }
  Ahead(const Ahead&) = delete;
  Ahead& operator=(const Ahead&) = delete;

  void Work(InputFile& input) {
    while (true) {
      std::unique_ptr<Chunk> chunk;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stop || !spare.empty(); });
        if (stop) return;
        chunk = std::move(spare.back());
        spare.pop_back();
      }
      try {
        chunk->size = input.Unpack(chunk->bytes.get(), kAheadChunk);
        chunk->state = input.Now();
      } catch (const Stopping&) {
        return;
      } catch (...) {
        chunk->size = 0;
        chunk->error = std::current_exception();
        chunk->state = input.Now();  // the damage text is empty while reading goes on: no allocation
      }
      bool last = chunk->size == 0;
      {
        std::lock_guard<std::mutex> lock(mutex);
        ready.push_back(std::move(chunk));
      }
      changed.notify_all();
      if (last) return;
    }
  }

  // The next chunk, once made; done (the one taken whole) is made again.
  std::unique_ptr<Chunk> Next(std::unique_ptr<Chunk> done) {
    std::unique_lock<std::mutex> lock(mutex);
    if (done) {
      spare.push_back(std::move(done));
      changed.notify_all();
    }
    changed.wait(lock, [&] { return !ready.empty(); });
    std::unique_ptr<Chunk> chunk = std::move(ready.front());
    ready.erase(ready.begin());
    return chunk;
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::unique_ptr<Chunk>> ready, spare;  // ready: oldest first
  std::atomic<bool> stop = false;
  std::thread thread;
};

InputFile::InputFile(const std::string& path, ReadAhead ahead) : InputFile(OpenFileSource(path), ahead) {}

InputFile::InputFile(std::unique_ptr<ByteSource> source, ReadAhead ahead)
    : source_(std::move(source)), raw_(std::make_unique_for_overwrite<char[]>(kRawChunk)), aheadAfter_(ahead.after) {
  FillRaw();
  if (rawEnd_ >= 2 && static_cast<unsigned char>(raw_[0]) == 0x1F && static_cast<unsigned char>(raw_[1]) == 0x8B) {
    inflater_ = std::make_unique<Inflater>();
    if (inflateInit2(&inflater_->stream, 16 + MAX_WBITS) != Z_OK)
      throw InputError("out of memory for " + source_->Name());
    inflater_->open = true;
  }
}

InputFile::~InputFile() = default;

bool InputFile::FillRaw() {
  if (rawBegin_ < rawEnd_) return true;
  if (rawEof_) return false;
  if (stopping_ && *stopping_) throw Stopping();
  rawBegin_ = 0;
  // A source may hand out less than asked (a download as it arrives): only 0 is its end.
  rawEnd_ = source_->Read(raw_.get(), kRawChunk);
  if (rawEnd_ == 0) rawEof_ = true;
  consumed_ += static_cast<std::int64_t>(rawEnd_);
  return rawEnd_ > 0;
}

std::size_t InputFile::ReadRaw(char* out, std::size_t size) {
  if (!FillRaw()) return 0;
  std::size_t n = std::min(size, rawEnd_ - rawBegin_);
  std::memcpy(out, raw_.get() + rawBegin_, n);
  rawBegin_ += n;
  return n;
}

void InputFile::EndEarly(Ending ending, std::string why) {
  ending_ = ending;
  damage_ = std::move(why);
}

InputFile::State InputFile::Now() const { return {consumed_, source_->Size(), VerifiedSoFar(), ending_, damage_}; }

std::int64_t InputFile::VerifiedSoFar() const {
  if (!inflater_ || ending_ == Ending::kCutShort) return std::numeric_limits<std::int64_t>::max();
  if (encoding_ == Encoding::Utf16Le || encoding_ == Encoding::Utf16Be) return verifiedDecoded_;
  return std::max<std::int64_t>(0, verifiedInflated_ - skipped_);
}

std::size_t InputFile::ReadUnpacked(char* out, std::size_t size) {
  if (!inflater_) return ReadRaw(out, size);
  if (ending_ != Ending::kWhole) return 0;
  z_stream& z = inflater_->stream;
  z.next_out = reinterpret_cast<Bytef*>(out);
  z.avail_out = static_cast<uInt>(size);
  while (z.avail_out == size) {
    if (rawBegin_ == rawEnd_ && !FillRaw()) {
      if (!inflater_->atMemberStart) EndEarly(Ending::kCutShort, "the file ends inside compressed data");
      break;
    }
    if (inflater_->atMemberStart) {
      // A member follows only where the gzip magic does: anything else is not ours to read.
      unsigned char first = static_cast<unsigned char>(raw_[rawBegin_]);
      if (first != 0x1F) {
        EndEarly(Ending::kTrailingData, "data after the last compressed member was ignored");
        break;
      }
      inflater_->atMemberStart = false;
    }
    z.next_in = reinterpret_cast<Bytef*>(raw_.get() + rawBegin_);
    z.avail_in = static_cast<uInt>(rawEnd_ - rawBegin_);
    int rc = inflate(&z, Z_NO_FLUSH);
    rawBegin_ = rawEnd_ - z.avail_in;
    if (rc == Z_STREAM_END) {
      // zlib has compared the member's check value and length: all it gave out is sound.
      verifiedInflated_ = inflated_ + static_cast<std::int64_t>(size - z.avail_out);
      inflateReset(&z);
      inflater_->atMemberStart = true;
      if (z.avail_out < size) break;  // what this member gave, without the next one's
    } else if (rc == Z_MEM_ERROR) {
      throw InputError("out of memory while unpacking " + source_->Name());
    } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
      EndEarly(Ending::kDamaged, std::string("damaged compressed data: ") + (z.msg ? z.msg : "inflate failed"));
      break;
    }
  }
  inflated_ += static_cast<std::int64_t>(size - z.avail_out);
  return size - z.avail_out;
}

std::size_t InputFile::Read(char* out, std::size_t size) {
  if (size == 0) return 0;
  if (!ahead_) {
    std::size_t n = Unpack(out, size);
    handedOut_ += static_cast<std::int64_t>(n);
    if (n > 0 && handedOut_ >= aheadAfter_) {
      shown_ = Now();
      try {
        ahead_ = std::make_unique<Ahead>(*this);
      } catch (const std::exception&) {
        // No thread or memory to be had (a 32-bit process short of address space): read on here.
        aheadAfter_ = std::numeric_limits<std::int64_t>::max();
        stopping_ = nullptr;
      }
    }
    return n;
  }
  while (!current_ || taken_ == current_->size) {
    if (current_ && current_->error) std::rethrow_exception(current_->error);
    if (current_ && current_->size == 0) return 0;
    current_ = ahead_->Next(std::move(current_));
    taken_ = 0;
    if (current_->size == 0) shown_ = current_->state;
  }
  std::size_t n = std::min(size, current_->size - taken_);
  std::memcpy(out, current_->bytes.get() + taken_, n);
  taken_ += n;
  // Only now: a chunk's state may tell of members that end past what was handed out so far.
  if (taken_ == current_->size) shown_ = current_->state;
  return n;
}

std::size_t InputFile::Unpack(char* out, std::size_t size) {
  if (encoding_ == Encoding::Unknown) {
    char head[3];
    std::size_t got = 0;
    while (got < 3) {
      std::size_t n = ReadUnpacked(head + got, 3 - got);
      if (n == 0) break;
      got += n;
    }
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    if (got >= 2 && at(0) == 0xFF && at(1) == 0xFE) encoding_ = Encoding::Utf16Le;
    else if (got >= 2 && at(0) == 0xFE && at(1) == 0xFF) encoding_ = Encoding::Utf16Be;
    else encoding_ = Encoding::Utf8;
    std::size_t skip = encoding_ != Encoding::Utf8                                     ? 2
                       : (got == 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) ? 3
                                                                                       : 0;
    if (encoding_ == Encoding::Utf8) pending_.assign(head + skip, got - skip);
    else raw16_.assign(head + skip, got - skip);
    if (encoding_ == Encoding::Utf8) skipped_ = static_cast<std::int64_t>(skip);
  }
  if (encoding_ == Encoding::Utf8) {
    std::size_t n = std::min(size, pending_.size());
    std::memcpy(out, pending_.data(), n);
    pending_.erase(0, n);
    // Members that end within what is at hand are read on, so that small members (one per
    // record of a crawl archive) still fill the caller's buffer.
    while (n < size) {
      std::size_t got = ReadUnpacked(out + n, size - n);
      n += got;
      if (got == 0 || !inflater_ || !inflater_->atMemberStart || rawBegin_ == rawEnd_) break;
    }
    return n;
  }
  // UTF-16: decode enough units to fill the request, keeping a split unit or pair for later.
  while (pending_.size() < size) {
    char chunk[8192];
    std::size_t n = ReadUnpacked(chunk, sizeof chunk);
    bool end = n == 0;
    raw16_.append(chunk, n);
    bool little = encoding_ == Encoding::Utf16Le;
    auto unit = [&](std::size_t i) {
      unsigned char a = static_cast<unsigned char>(raw16_[i]), b = static_cast<unsigned char>(raw16_[i + 1]);
      return little ? static_cast<std::uint32_t>(a | (b << 8)) : static_cast<std::uint32_t>((a << 8) | b);
    };
    std::size_t i = 0;
    while (i + 2 <= raw16_.size()) {
      std::uint32_t code = unit(i);
      if (code >= 0xD800 && code <= 0xDBFF) {
        if (i + 4 > raw16_.size() && !end) break;  // the pair may continue in the next piece
        std::uint32_t next = i + 4 <= raw16_.size() ? unit(i + 2) : 0;
        if (next >= 0xDC00 && next <= 0xDFFF) {
          code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
          i += 2;
        }
      }
      std::size_t before = pending_.size();
      AppendUtf8(pending_, code);
      decoded_ += static_cast<std::int64_t>(pending_.size() - before);
      i += 2;
    }
    raw16_.erase(0, i);
    if (raw16_.empty() && verifiedInflated_ == inflated_) verifiedDecoded_ = decoded_;
    if (end) {
      // An odd byte at the end: a broken character, which fails the UTF-8 check of its line.
      if (!raw16_.empty()) {
        pending_ += '\xFF';
        ++decoded_;
      }
      raw16_.clear();
      break;
    }
  }
  std::size_t n = std::min(size, pending_.size());
  std::memcpy(out, pending_.data(), n);
  pending_.erase(0, n);
  return n;
}

LineReader::LineReader(InputFile& input, std::size_t maxLine)
    : input_(input), maxLine_(maxLine), buffer_(std::make_unique_for_overwrite<char[]>(kLineChunk)) {}

bool LineReader::Refill() {
  if (begin_ < end_) return true;
  begin_ = 0;
  end_ = input_.Read(buffer_.get(), kLineChunk);
  read_ += static_cast<std::int64_t>(end_);
  return end_ > 0;
}

LineReader::Result LineReader::Next(std::string_view* line) {
  line_.clear();
  ended_ = false;
  bool any = false, tooLong = false, inBuffer = false;
  std::size_t start = 0, length = 0;
  while (Refill()) {
    any = true;
    const char* from = buffer_.get() + begin_;
    const char* newline = static_cast<const char*>(std::memchr(from, '\n', end_ - begin_));
    std::size_t take = newline ? static_cast<std::size_t>(newline - from) : end_ - begin_;
    if (!tooLong) {
      if (line_.size() + take > maxLine_ + 1) {  // + 1: room for the CR of a CR LF end
        tooLong = true;
        line_.clear();
        line_.shrink_to_fit();
      } else if (newline && line_.empty()) {
        // The whole line is in the buffer: hand out a view of it, copying nothing.
        inBuffer = true;
        start = begin_;
        length = take;
      } else {
        line_.append(from, take);
      }
    }
    begin_ += take;
    if (newline) {
      ++begin_;
      ended_ = true;
      break;
    }
  }
  if (!any) return Result::End;
  ++number_;
  std::string_view text = inBuffer ? std::string_view(buffer_.get() + start, length) : std::string_view(line_);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (tooLong || text.size() > maxLine_) return Result::TooLong;
  *line = text;
  return Result::Line;
}

bool LineReader::Fill(std::size_t want) {
  if (end_ - begin_ >= want) return true;
  std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  while (end_ < want) {
    std::size_t got = input_.Read(buffer_.get() + end_, kLineChunk - end_);
    if (got == 0) return false;
    end_ += got;
    read_ += static_cast<std::int64_t>(got);
  }
  return true;
}

std::size_t LineReader::ReadBlock(std::size_t n, std::string* out, std::size_t keep, std::string_view stopAt) {
  std::size_t done = 0;
  bool lineStart = true;
  while (done < n) {
    if (lineStart && !stopAt.empty() && Fill(stopAt.size()) &&
        std::memcmp(buffer_.get() + begin_, stopAt.data(), stopAt.size()) == 0)
      break;
    if (!Refill()) break;
    std::size_t take = std::min(n - done, end_ - begin_);
    if (!stopAt.empty()) {
      // Line by line, so that each line start can be looked at.
      const char* from = buffer_.get() + begin_;
      const char* newline = static_cast<const char*>(std::memchr(from, '\n', take));
      lineStart = newline != nullptr;
      if (newline) take = static_cast<std::size_t>(newline - from) + 1;
    }
    if (out->size() < keep) out->append(buffer_.get() + begin_, std::min(take, keep - out->size()));
    begin_ += take;
    done += take;
  }
  return done;
}

}  // namespace quillet::services
