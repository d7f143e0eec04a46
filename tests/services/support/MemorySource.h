#pragma once
// Bytes in memory as an input file, handed over in pieces of at most `piece` bytes (a
// download hands over what has arrived).
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "services/import/Input.h"

namespace quillet::services::testing {

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string bytes, std::size_t piece = SIZE_MAX) : bytes_(std::move(bytes)), piece_(piece) {}
  std::size_t Read(char* out, std::size_t size) override {
    std::size_t n = std::min({size, bytes_.size() - at_, piece_});
    std::memcpy(out, bytes_.data() + at_, n);
    at_ += n;
    return n;
  }
  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  const std::string& Name() const override { return name_; }

 private:
  std::string bytes_;
  std::size_t piece_;
  std::size_t at_ = 0;
  std::string name_ = "memory";
};

inline InputFile MemoryInput(std::string bytes, std::size_t piece = SIZE_MAX) {
  return InputFile(std::make_unique<MemorySource>(std::move(bytes), piece));
}

}  // namespace quillet::services::testing
