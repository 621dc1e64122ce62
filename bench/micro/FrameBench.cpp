// The WebSocket frame codec at the two sizes that matter: a request-sized frame (125 bytes, the
// largest with the 7-bit length) and a 64 KiB frame (the 64-bit length form, several read chunks).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "service/WebSocketFrame.h"
#include "service/WebSocketMessages.h"

namespace kelvora::bench {
namespace {

// Replays one buffer as the connection's bytes; Rewind() starts it again, so a benchmark reads the
// same frame every iteration without copying it.
class ReplayStream final : public service::ByteStream {
 public:
  explicit ReplayStream(std::string bytes) : bytes_(std::move(bytes)) {}

  size_t ReadSome(std::span<char> buffer) override {
    if (position_ == bytes_.size()) throw service::EConnectionClosed("end of replay");
    const size_t n = std::min(buffer.size(), bytes_.size() - position_);
    std::memcpy(buffer.data(), bytes_.data() + position_, n);
    position_ += n;
    return n;
  }
  void WriteAll(std::string_view) override {}
  void Rewind() { position_ = 0; }

 private:
  std::string bytes_;
  size_t position_ = 0;
};

// A masked client text frame carrying `size` bytes of ASCII, as a browser sends it.
std::string MaskedClientFrame(size_t size) {
  const std::array<uint8_t, 4> key{0x37, 0xFA, 0x21, 0x3D};
  std::string frame(1, static_cast<char>(0x81));
  if (size <= 125) {
    frame += static_cast<char>(0x80 | size);
  } else if (size <= 0xFFFF) {
    frame += static_cast<char>(0x80 | 126);
    for (int i = 1; i >= 0; --i) frame += static_cast<char>((size >> (8 * i)) & 0xFF);
  } else {
    frame += static_cast<char>(0x80 | 127);
    for (int i = 7; i >= 0; --i) frame += static_cast<char>((size >> (8 * i)) & 0xFF);
  }
  for (const uint8_t k : key) frame += static_cast<char>(k);
  for (size_t j = 0; j < size; ++j) {
    frame += static_cast<char>(static_cast<uint8_t>('a' + j % 26) ^ key[j % 4]);
  }
  return frame;
}

void BM_EncodeTextFrame(benchmark::State& state) {
  const std::string payload(static_cast<size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    std::string frame = service::EncodeTextFrame(payload);
    benchmark::DoNotOptimize(frame);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_EncodeTextFrame)->Arg(125)->Arg(64 * 1024);

// A text message in one frame as the connection reads it: the frame, then the message checks.
void BM_ReadClientFrame(benchmark::State& state) {
  ReplayStream stream(MaskedClientFrame(static_cast<size_t>(state.range(0))));
  service::ClientMessageReader reader;
  for (auto _ : state) {
    stream.Rewind();
    std::string text = reader.ReadFrame(stream);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ReadClientFrame)->Arg(125)->Arg(64 * 1024);

}  // namespace
}  // namespace kelvora::bench
