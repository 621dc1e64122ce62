// The frame codec: length forms, masking, header bits as sent, oversized and cut frames.
#include "service/WebSocketFrame.h"

#include "ClientFrameBytes.h"
#include "FakeByteStream.h"

#include <gtest/gtest.h>

namespace kelvora::service {
namespace {

using testing::Bytes;
using testing::ClientFrame;
using testing::FakeByteStream;

std::string Repeat(std::string_view unit, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += unit;
  return out;
}

TEST(EncodeTextFrame, PicksTheLengthFormByUtf8ByteCount) {
  struct Case {
    std::string text;
    std::string header;
  };
  // 100 characters of which 30 are "ã" (two bytes each) are 130 bytes: the 16-bit form.
  const std::string accented = Repeat("ã", 30) + std::string(70, 'a');
  const Case cases[] = {
      {"", Bytes({0x81, 0})},
      {std::string(125, 'a'), Bytes({0x81, 125})},
      {std::string(126, 'a'), Bytes({0x81, 126, 0x00, 0x7E})},
      {std::string(65535, 'a'), Bytes({0x81, 126, 0xFF, 0xFF})},
      {std::string(65536, 'a'), Bytes({0x81, 127, 0, 0, 0, 0, 0, 1, 0, 0})},
      {accented, Bytes({0x81, 126, 0x00, 130})},
  };
  for (const Case& c : cases) {
    const std::string frame = EncodeTextFrame(c.text);
    SCOPED_TRACE(c.text.size());
    EXPECT_EQ(frame.substr(0, c.header.size()), c.header);
    EXPECT_EQ(frame.substr(c.header.size()), c.text) << "payload follows unmasked";
  }
}

TEST(ReadClientFrame, UnmasksAndAcceptsEveryLengthForm) {
  struct Case {
    const char* what;
    std::string frame;
    std::string payload;
  };
  const std::string text300 = Repeat("0123456789", 30);
  const std::string text65536 = Repeat("abcdefgh", 8192);
  const Case cases[] = {
      {"masked, 7-bit length", ClientFrame(0x81, "hello"), "hello"},
      {"masked, 300 bytes in the 16-bit form", ClientFrame(0x81, text300), text300},
      {"masked, 64-bit form", ClientFrame(0x81, text65536), text65536},
      {"a short text in the 64-bit form", ClientFrame(0x81, "wide", "\1\2\3\4", 64), "wide"},
      {"multi-byte UTF-8", ClientFrame(0x81, "não é €"), "não é €"},
      {"empty payload", ClientFrame(0x81, ""), ""},
      {"not UTF-8: the reader judges text", ClientFrame(0x81, "a\xC3\x28"), "a\xC3\x28"},
  };
  for (const Case& c : cases) {
    FakeByteStream stream(c.frame + ClientFrame(0x81, "next"));
    EXPECT_EQ(ReadClientFrame(stream).Payload, c.payload) << c.what;
    EXPECT_EQ(ReadClientFrame(stream).Payload, "next") << c.what;
  }
}

TEST(ReadClientFrame, GivesTheHeaderBitsAsSent) {
  struct Case {
    uint8_t byte0;
    bool fin;
    uint8_t rsv;
    uint8_t opcode;
  };
  const Case cases[] = {
      {0x81, true, 0, 0x1}, {0x01, false, 0, 0x1}, {0x80, true, 0, 0x0}, {0x88, true, 0, 0x8},
      {0x8B, true, 0, 0xB}, {0xC1, true, 4, 0x1}, {0xF2, true, 7, 0x2}, {0x19, false, 1, 0x9},
  };
  for (const Case& c : cases) {
    FakeByteStream stream(ClientFrame(c.byte0, "x"));
    const FrameHeader header = ReadClientFrame(stream).Header;
    EXPECT_EQ(header.Fin, c.fin) << int(c.byte0);
    EXPECT_EQ(header.Rsv, c.rsv) << int(c.byte0);
    EXPECT_EQ(header.Opcode, c.opcode) << int(c.byte0);
  }
}

TEST(ReadClientFrame, RefusesAnUnmaskedFrameBeforeReadingItsPayload) {
  struct Case {
    const char* what;
    std::string frame;
    std::string payload;  // left unread
  };
  const std::string text300 = Repeat("0123456789", 30);
  const Case cases[] = {
      {"text", ClientFrame(0x81, "plain", ""), "plain"},
      {"16-bit form", ClientFrame(0x81, text300, ""), text300},
      {"close frame", ClientFrame(0x88, "\x03\xE8", ""), "\x03\xE8"},
      {"empty payload", ClientFrame(0x81, "", ""), ""},
      {"a server frame sent back", EncodeTextFrame(text300), text300},
  };
  for (const Case& c : cases) {
    FakeByteStream stream(c.frame, 1);
    EXPECT_THROW(ReadClientFrame(stream), EUnmaskedFrame) << c.what;
    EXPECT_EQ(stream.Unread(), c.payload) << c.what;
  }
}

TEST(ReadClientFrame, RefusesAClaimAboveTheLimitBeforeReadingThePayload) {
  const std::string huge = Bytes({0x81, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) +
                           "\1\2\3\4" + "the start of a payload";
  FakeByteStream stream(huge);
  EXPECT_THROW(ReadClientFrame(stream), EFrameTooLarge);
  EXPECT_EQ(stream.Unread(), "the start of a payload");

  FakeByteStream atLimit(ClientFrame(0x81, "0123456789"));
  EXPECT_EQ(ReadClientFrame(atLimit, 10).Payload, "0123456789");
  FakeByteStream aboveLimit(ClientFrame(0x81, "0123456789x"));
  EXPECT_THROW(ReadClientFrame(aboveLimit, 10), EFrameTooLarge);
  FakeByteStream closeAboveLimit(ClientFrame(0x88, std::string(11, 'c')));
  EXPECT_THROW(ReadClientFrame(closeAboveLimit, 10), EFrameTooLarge);
}

TEST(ReadClientFrame, AcceptsOneMebibyteAndRefusesOneByteMore) {
  const std::string text(1024 * 1024, 'm');
  FakeByteStream stream(ClientFrame(0x81, text), 4096);
  EXPECT_EQ(ReadClientFrame(stream).Payload, text);
  FakeByteStream above(ClientFrame(0x81, text + "m"), 4096);
  EXPECT_THROW(ReadClientFrame(above), EFrameTooLarge);
}

TEST(ReadClientFrame, FailsWhenTheStreamEndsInsideAFrame) {
  const std::string frame = ClientFrame(0x81, std::string(300, 'p'));
  // Cut inside byte 1, the extended length, the masking key and the payload.
  for (size_t cut : {0u, 1u, 3u, 6u, 8u, 200u, 307u}) {
    FakeByteStream stream(frame.substr(0, cut));
    EXPECT_THROW(ReadClientFrame(stream), EConnectionClosed) << "cut after " << cut;
  }
}

TEST(IsValidUtf8, FollowsRfc3629) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {"plain ASCII", true},
      {"\xC3\xA3", true},            // ã
      {"\xE2\x82\xAC", true},        // €
      {"\xF0\x9F\x98\x80", true},    // U+1F600
      {"\xF4\x8F\xBF\xBF", true},    // U+10FFFF
      {std::string("\0", 1), true},  // NUL is a character
      {"\xC0\x80", false},           // overlong NUL
      {"\xC1\xBF", false},           // overlong
      {"\xE0\x80\x80", false},       // overlong
      {"\xF0\x80\x80\x80", false},   // overlong
      {"\xED\xBF\xBF", false},       // surrogate
      {"\xF4\x90\x80\x80", false},   // above U+10FFFF
      {"\x80", false},               // continuation without a lead
      {"\xC3", false},               // cut two-byte sequence
      {"\xE2\x82", false},           // cut three-byte sequence
      {"\xE2\x28\xA1", false},       // bad continuation
      {"\xFF", false},
      {"\xF8\x88\x80\x80\x80", false},  // five-byte form
  };
  for (const auto& [bytes, valid] : cases) {
    EXPECT_EQ(IsValidUtf8(bytes), valid) << ::testing::PrintToString(bytes);
  }
}

}  // namespace
}  // namespace kelvora::service
