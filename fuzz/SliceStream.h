// A byte stream over the fuzz input for the WebSocket readers: reads are cut into pieces of a
// chosen size, so every multi-byte field is also read across piece boundaries.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "service/ByteStream.h"

namespace kelvora::fuzz {

class SliceStream final : public service::ByteStream {
 public:
  SliceStream(std::string_view input, size_t piece) : input_(input), piece_(piece) {}

  size_t ReadSome(std::span<char> buffer) override {
    if (position_ == input_.size())
      throw service::EConnectionClosed("Connection Closed Gracefully.");
    const size_t count = std::min({buffer.size(), piece_, input_.size() - position_});
    std::memcpy(buffer.data(), input_.data() + position_, count);
    position_ += count;
    return count;
  }

  void WriteAll(std::string_view bytes) override { writes.emplace_back(bytes); }

  // How many input bytes the readers have taken so far.
  size_t Position() const { return position_; }

  std::vector<std::string> writes;

 private:
  std::string_view input_;
  size_t piece_;
  size_t position_ = 0;
};

}  // namespace kelvora::fuzz
