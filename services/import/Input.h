#pragma once
// The streaming input layer every importer reads through: one file as text, whatever its
// packing, in pieces of bounded size. Nothing here ever holds a whole file or a whole
// overlong line in memory.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::services {

// The file could not be opened or read; nothing of it can be trusted.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the bytes of an input come from: a file, or a download as it arrives.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to size bytes; 0 at the end. Throws InputError when the bytes cannot be read.
  virtual std::size_t Read(char* out, std::size_t size) = 0;
  // The whole size when known in advance, else 0 (progress then shows bytes only).
  virtual std::int64_t Size() const = 0;
  // For messages: the file's path, the address.
  virtual const std::string& Name() const = 0;
};

// A file on disk. Throws InputError when it cannot be opened.
std::unique_ptr<ByteSource> OpenFileSource(const std::string& path);
// The path made absolute (UTF-8 in and out), as a file's source is recorded.
std::string AbsolutePath(const std::string& path);

// When an InputFile reads ahead on a second thread: only once this much content has been
// handed out, so that a small file costs no thread.
struct ReadAhead {
  std::int64_t after = std::int64_t{1} << 20;
};

// The content of one input as UTF-8 bytes: gunzipped when it starts with the gzip magic
// (every member of a multi-member file, as web-crawl archives are packed), UTF-16 text with
// a byte order mark converted (a lone surrogate becomes its three-byte form, which the UTF-8
// check then names), a UTF-8 byte order mark dropped.
//
// A compressed member vouches for its content only at its end, where its check value and
// length are compared: Verified() tells how much of the content is sound so far, so that a
// reader can undo what it stored from a member that turns out damaged.
//
// What runs where: a small input is read, inflated and decoded on the caller's thread. Once
// the content handed out passes ReadAhead::after, a second thread does that work in chunks,
// a bounded number ahead, while the caller's thread only copies them out. Each chunk carries
// the state (Consumed, Verified, HowItEnded, ...) as it was when the chunk was made, and the
// caller sees it once it has taken the whole chunk, so what it sees is never ahead of the
// content it has had; an error from the source reaches it after the content before it.
// Methods are for one thread (the caller's) at a time, as before.
class InputFile {
 public:
  // Throws InputError when the file cannot be opened.
  explicit InputFile(const std::string& path, ReadAhead ahead = {});
  explicit InputFile(std::unique_ptr<ByteSource> source, ReadAhead ahead = {});
  // Stops the second thread (after the source read under way, if any) and waits for it.
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Up to size bytes of content; 0 at its end. Damaged compressed data ends the content
  // early (see Ending); a failing read throws InputError.
  std::size_t Read(char* out, std::size_t size);

  // Bytes of the source consumed so far, and its size (0 when unknown), for progress.
  std::int64_t Consumed() const { return ahead_ ? shown_.consumed : consumed_; }
  std::int64_t Size() const { return ahead_ ? shown_.size : source_->Size(); }

  // How the content ended when it ended before the file did. kCutShort: the file ends inside
  // compressed data; what inflated before the cut is sound, but its last line may be cut.
  // kTrailingData: bytes after the last member that begin no member were left unread.
  // kDamaged: a member's data did not inflate, or its check value or length did not match:
  // the content past Verified() came from it and cannot be trusted.
  enum class Ending { kWhole, kCutShort, kTrailingData, kDamaged };
  Ending HowItEnded() const { return ahead_ ? shown_.ending : ending_; }
  // Why the content ended before the file did, or empty.
  const std::string& Damage() const { return ahead_ ? shown_.damage : damage_; }
  // Content bytes from the start known to be sound: all of an uncompressed file, those of
  // the members whose end has verified them, and once a file is found cut short, all of it.
  std::int64_t Verified() const { return ahead_ ? shown_.verified : VerifiedSoFar(); }

 private:
  enum class Encoding { Unknown, Utf8, Utf16Le, Utf16Be };
  // What the accessors above tell, as of one point of the content.
  struct State {
    std::int64_t consumed = 0, size = 0, verified = 0;
    Ending ending = Ending::kWhole;
    std::string damage;
  };
  struct Chunk;
  struct Ahead;

  // The content on whichever thread does the work: reads, inflates, decodes.
  std::size_t Unpack(char* out, std::size_t size);
  State Now() const;
  std::int64_t VerifiedSoFar() const;
  std::size_t ReadRaw(char* out, std::size_t size);
  // Inflated bytes, never past the end of a member (so that what one call returns comes from
  // one member).
  std::size_t ReadUnpacked(char* out, std::size_t size);
  bool FillRaw();
  void EndEarly(Ending ending, std::string why);

  // From here to ending_/damage_: the worker's state, touched by the second thread alone once
  // it runs.
  struct Inflater;
  const std::atomic<bool>* stopping_ = nullptr;  // the second thread's: once true, the source is not read again
  std::unique_ptr<ByteSource> source_;
  std::unique_ptr<Inflater> inflater_;
  // Written before read: left uninitialised, since clearing them costs more than reading a small file.
  std::unique_ptr<char[]> raw_;
  std::size_t rawBegin_ = 0, rawEnd_ = 0;
  bool rawEof_ = false;
  std::int64_t consumed_ = 0;
  Encoding encoding_ = Encoding::Unknown;
  std::string pending_;                               // decoded bytes not yet handed out
  std::string raw16_;                                 // UTF-16 bytes not yet decoded
  std::int64_t inflated_ = 0, verifiedInflated_ = 0;  // bytes out of the inflater, up to a verified end
  std::int64_t skipped_ = 0;                          // byte order mark of UTF-8 content
  std::int64_t decoded_ = 0, verifiedDecoded_ = 0;    // UTF-8 made from UTF-16, and of it verified
  Ending ending_ = Ending::kWhole;
  std::string damage_;

  // The caller's side.
  std::int64_t aheadAfter_;
  std::int64_t handedOut_ = 0;  // before the second thread starts
  State shown_;                 // as of the last chunk taken whole
  std::unique_ptr<Chunk> current_;
  std::size_t taken_ = 0;         // of current_
  std::unique_ptr<Ahead> ahead_;  // last: stopped first, while what its thread uses is still there
};

// Lines of an InputFile, numbered from 1, without their end (LF or CR LF).
class LineReader {
 public:
  enum class Result { Line, TooLong, End };

  LineReader(InputFile& input, std::size_t maxLine);

  // The next line in *line (valid until the next call). A line longer than maxLine is read
  // past without being kept, and reported as TooLong.
  Result Next(std::string_view* line);
  std::int64_t Number() const { return number_; }
  // Whether the last line read ended with a line end (else the content ended in it).
  bool Ended() const { return ended_; }
  // Content bytes read past so far (lines, their ends and blocks), as InputFile counts them.
  std::int64_t Position() const { return read_ - static_cast<std::int64_t>(end_ - begin_); }

  // Reads the next n bytes of content (for length-delimited records), keeping at most
  // keep of them in *out. Returns how many there were: fewer at the end of the content, or,
  // when stopAt is given, when a line that starts with it begins within the n bytes (the
  // block taken to start a line): the block then ends before that line, which Next reads.
  // So a record whose stated length runs into the next record does not swallow it.
  std::size_t ReadBlock(std::size_t n, std::string* out, std::size_t keep, std::string_view stopAt = {});

 private:
  bool Refill();
  // Moves the unread bytes to the front and reads until at least want are there; false when
  // the content ends first.
  bool Fill(std::size_t want);

  InputFile& input_;
  std::size_t maxLine_;
  std::unique_ptr<char[]> buffer_;  // written before read, as raw_
  std::size_t begin_ = 0, end_ = 0;
  std::string line_;
  std::int64_t number_ = 0;
  std::int64_t read_ = 0;  // content bytes taken from the input
  bool ended_ = true;
};

// Opens a file by its UTF-8 name (also on Windows, where names are UTF-16). Null on failure.
std::FILE* OpenFile(const std::string& path, const char* mode);

}  // namespace quillet::services
