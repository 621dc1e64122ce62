// A byte stream over fixed input bytes, handing them out a few at a time, and recording writes.
#pragma once

#include "service/ByteStream.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kelvora::service::testing {

class FakeByteStream final : public ByteStream {
 public:
  // Reads return at most chunk bytes each, so every multi-byte field is read in pieces.
  explicit FakeByteStream(std::string input, size_t chunk = 3)
      : input_(std::move(input)), chunk_(chunk) {}

  size_t ReadSome(std::span<char> buffer) override {
    if (position_ == input_.size()) throw EConnectionClosed("Connection Closed Gracefully.");
    const size_t count = std::min({buffer.size(), chunk_, input_.size() - position_});
    std::memcpy(buffer.data(), input_.data() + position_, count);
    position_ += count;
    return count;
  }

  void WriteAll(std::string_view bytes) override { writes.emplace_back(bytes); }

  // The input not read yet.
  std::string Unread() const { return input_.substr(position_); }

  std::vector<std::string> writes;

 private:
  std::string input_;
  size_t chunk_;
  size_t position_ = 0;
};

}  // namespace kelvora::service::testing
