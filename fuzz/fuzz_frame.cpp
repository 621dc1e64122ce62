// Fuzz target of the WebSocket frame decoder: arbitrary client bytes read frame after frame, each
// result held against a decoding worked out straight from the frame layout.
#include <sanitizer/allocator_interface.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "fuzz/SliceStream.h"
#include "service/WebSocketFrame.h"

namespace kelvora::fuzz {
namespace {

// The decoder reads a payload in chunks of at most 64 KiB and a string at most doubles its
// capacity, so no single allocation may exceed twice the input plus a chunk, plus room for the
// error texts. A decoder that trusted the claimed length would ask for up to 1 MiB here.
constexpr size_t kReadChunkBound = 64 * 1024;
constexpr size_t kSmallAllocations = 4096;

size_t gLargestAllocation = 0;

void NoteAllocation(const volatile void*, size_t size) {
  if (size > gLargestAllocation) gLargestAllocation = size;
}
void NoteRelease(const volatile void*) {}

// What the frame at the start of `bytes` must give.
struct ExpectedFrame {
  bool complete = false;  // the whole frame is there
  bool tooLarge = false;  // the header is there and claims more than the limit
  bool unmasked = false;  // the header is there and has no masking key: refused first
  size_t length = 0;      // bytes the frame occupies
  std::string text;       // the payload the decoder returns for it, unmasked
};

// A client's frame must be masked (refuseUnmasked); the service's own frames are not.
ExpectedFrame Expect(std::string_view bytes, uint64_t limit, bool refuseUnmasked) {
  ExpectedFrame expected;
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  if (bytes.size() < 2) return expected;
  const bool masked = (byte(1) & 0x80) != 0;
  uint64_t claimed = byte(1) & 0x7F;
  const size_t extended = claimed == 126 ? 2 : claimed == 127 ? 8 : 0;
  size_t at = 2;
  if (bytes.size() < at + extended + (masked ? 4 : 0)) return expected;
  if (extended != 0) claimed = 0;
  for (size_t k = 0; k < extended; ++k) claimed = (claimed << 8) | byte(at++);
  const size_t key = at;
  if (masked) at += 4;
  if (!masked && refuseUnmasked) {
    expected.unmasked = true;
    return expected;
  }
  if (claimed > limit) {
    expected.tooLarge = true;
    return expected;
  }
  if (bytes.size() - at < claimed) return expected;
  std::string payload(bytes.substr(at, static_cast<size_t>(claimed)));
  for (size_t j = 0; masked && j < payload.size(); ++j) {
    payload[j] = static_cast<char>(static_cast<uint8_t>(payload[j]) ^ byte(key + j % 4));
  }
  expected.complete = true;
  expected.length = at + static_cast<size_t>(claimed);
  expected.text = std::move(payload);
  return expected;
}

}  // namespace
}  // namespace kelvora::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(kelvora::fuzz::NoteAllocation,
                                            kelvora::fuzz::NoteRelease);
  return 0;
}

// Byte 0 chooses the read piece size (bits 0-2: 1 to 8 bytes) and the payload limit (bit 3 set:
// bits 4-7 as a tiny limit; clear: the service's own); the rest is what the client sent.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvora;
  using fuzz::Require;
  if (size == 0) return 0;
  fuzz::gLargestAllocation = 0;
  const size_t piece = (data[0] & 0x07) + 1;
  const uint64_t limit = (data[0] & 0x08) != 0 ? data[0] >> 4 : service::kMaxClientPayload;
  const std::string_view input = fuzz::AsText(data + 1, size - 1);

  Require(service::IsValidUtf8(input) == fuzz::IsWellFormedUtf8(input),
          "IsValidUtf8 agrees with the table of well-formed sequences");

  fuzz::SliceStream stream(input, piece);
  for (;;) {
    const size_t start = stream.Position();
    const fuzz::ExpectedFrame expected = fuzz::Expect(input.substr(start), limit, true);
    std::string text;
    try {
      text = service::ReadClientFrame(stream, limit).Payload;
    } catch (const service::EConnectionClosed&) {
      Require(!expected.complete && !expected.tooLarge && !expected.unmasked,
              "the stream ends only inside a frame");
      break;
    } catch (const service::EUnmaskedFrame&) {
      Require(expected.unmasked, "only a frame without a masking key is refused as unmasked");
      break;
    } catch (const service::EFrameTooLarge&) {
      Require(expected.tooLarge, "only a claim above the limit is refused as too large");
      break;
    }
    Require(expected.complete, "a frame is returned only when all of it arrived");
    Require(stream.Position() - start == expected.length, "the whole frame and no more is read");
    Require(text == expected.text, "the payload is unmasked, whatever the opcode");
    Require(text.size() <= limit, "no payload beyond the limit");

    // The service's own frame for that text decodes back to it.
    const std::string frame = service::EncodeTextFrame(text);
    const fuzz::ExpectedFrame reply = fuzz::Expect(frame, service::kMaxClientPayload, false);
    Require(static_cast<uint8_t>(frame[0]) == 0x81 && (static_cast<uint8_t>(frame[1]) & 0x80) == 0,
            "EncodeTextFrame writes a final, unmasked text frame");
    Require(reply.complete && reply.length == frame.size() && reply.text == text,
            "EncodeTextFrame writes one whole frame holding the text");
    // The same frame masked with a key of zeros, as a client would send it, reads back to the text.
    std::string masked = frame.substr(0, frame.size() - text.size());
    masked[1] = static_cast<char>(static_cast<uint8_t>(masked[1]) | 0x80);
    masked += std::string(4, '\0');
    masked += text;
    fuzz::SliceStream echo(masked, piece);
    Require(service::ReadClientFrame(echo).Payload == text && echo.Position() == masked.size(),
            "a text frame of the encoder, masked, reads back to its text");
  }
  Require(fuzz::gLargestAllocation <= 2 * (size + fuzz::kReadChunkBound) + fuzz::kSmallAllocations,
          "no allocation grows with a claimed length rather than with the bytes received");
  return 0;
}
