// The message reader: fragments put together, ping and pong, the closing handshake, and the close
// status for every frame the service does not take.
#include "service/WebSocketMessages.h"

#include "ClientFrameBytes.h"
#include "FakeByteStream.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvora::service {
namespace {

using testing::Bytes;
using testing::ClientFrame;
using testing::FakeByteStream;

std::string ServerClose(int code) {
  return Bytes({0x88, 2, code >> 8, code & 0xFF});
}

// Reads every frame of the input: the texts returned, until the reader throws.
struct Reading {
  std::vector<std::string> texts;
  std::vector<std::string> writes;
  std::string unread;
  int closeCode = 0;  // the status the reader closed with, 0 when it did not
};

Reading ReadAll(const std::string& input, uint64_t maxMessage = kMaxClientPayload) {
  FakeByteStream stream(input);
  ClientMessageReader reader(maxMessage);
  Reading reading;
  try {
    for (;;) reading.texts.push_back(reader.ReadFrame(stream));
  } catch (const EWebSocketClosed& e) {
    reading.closeCode = e.Code;
  } catch (const EConnectionClosed&) {
    // The input has ended.
  }
  reading.writes = stream.writes;
  reading.unread = stream.Unread();
  return reading;
}

TEST(ClientMessageReader, ReturnsEachMessageOnceItsLastFrameHasCome) {
  struct Case {
    const char* what;
    std::string input;
    std::vector<std::string> texts;
    std::vector<std::string> writes;
  };
  const std::string ping = ClientFrame(0x89, "are you there");
  const Case cases[] = {
      {"one text frame", ClientFrame(0x81, "hello"), {"hello"}, {}},
      {"an empty text", ClientFrame(0x81, ""), {""}, {}},
      {"three fragments",
       ClientFrame(0x01, "he") + ClientFrame(0x00, "l") + ClientFrame(0x80, "lo"),
       {"", "", "hello"},
       {}},
      {"a character cut between fragments",
       ClientFrame(0x01, "n\xC3") + ClientFrame(0x80, "\xA3o"),
       {"", "não"},
       {}},
      {"ping answered with its payload", ping, {""}, {Bytes({0x8A, 13}) + "are you there"}},
      {"ping between fragments",
       ClientFrame(0x01, "a") + ping + ClientFrame(0x80, "b"),
       {"", "", "ab"},
       {Bytes({0x8A, 13}) + "are you there"}},
      {"pong ignored", ClientFrame(0x8A, "late") + ClientFrame(0x81, "next"), {"", "next"}, {}},
  };
  for (const Case& c : cases) {
    const Reading reading = ReadAll(c.input);
    EXPECT_EQ(reading.texts, c.texts) << c.what;
    EXPECT_EQ(reading.writes, c.writes) << c.what;
    EXPECT_EQ(reading.closeCode, 0) << c.what;
  }
}

TEST(ClientMessageReader, AnswersACloseFrameAndReadsNothingAfterIt) {
  struct Case {
    const char* what;
    std::string payload;
    int answer;
  };
  const Case cases[] = {
      {"no status", "", 1000},
      {"normal closure with a reason", "\x03\xE8" "bye", 1000},
      {"going away", "\x03\xE9", 1001},
      {"an application's code", "\x0F\xA1", 4001},
      {"a code no frame may carry", "\x03\xED", 1002},  // 1005
      {"an undefined code", "\x03\xFF", 1002},
      {"one byte", "\x03", 1002},
      {"a reason that is not UTF-8", "\x03\xE8\xFF", 1007},
  };
  for (const Case& c : cases) {
    const std::string after = ClientFrame(0x81, "after");
    const Reading reading = ReadAll(ClientFrame(0x88, c.payload) + after);
    EXPECT_EQ(reading.closeCode, c.answer) << c.what;
    EXPECT_EQ(reading.writes, std::vector<std::string>{ServerClose(c.answer)}) << c.what;
    EXPECT_EQ(reading.unread, after) << c.what;
  }
}

TEST(ClientMessageReader, ClosesWithTheStatusForAFrameItDoesNotTake) {
  struct Case {
    const char* what;
    std::string input;
    int code;
  };
  const Case cases[] = {
      {"binary", ClientFrame(0x82, "bin"), 1003},
      {"reserved data opcode", ClientFrame(0x83, "x"), 1002},
      {"reserved control opcode", ClientFrame(0x8B, "x"), 1002},
      {"RSV1", ClientFrame(0xC1, "x"), 1002},
      {"RSV3", ClientFrame(0x91, "x"), 1002},
      {"continuation without a first fragment", ClientFrame(0x80, "x"), 1002},
      {"a new text before the last fragment",
       ClientFrame(0x01, "a") + ClientFrame(0x81, "b"), 1002},
      {"fragmented ping", ClientFrame(0x09, "x"), 1002},
      {"control frame over 125 bytes", ClientFrame(0x89, std::string(126, 'p')), 1002},
      {"unmasked", ClientFrame(0x81, "plain", ""), 1002},
      {"text that is not UTF-8", ClientFrame(0x81, "a\xC3\x28"), 1007},
      {"fragments that are not UTF-8 together",
       ClientFrame(0x01, "\xC3") + ClientFrame(0x80, "("), 1007},
      {"one frame over the limit", ClientFrame(0x81, std::string(201, 'm')), 1009},
      {"fragments over the limit together",
       ClientFrame(0x01, std::string(150, 'm')) + ClientFrame(0x80, std::string(51, 'm')), 1009},
  };
  for (const Case& c : cases) {
    const Reading reading = ReadAll(c.input, 200);
    EXPECT_EQ(reading.closeCode, c.code) << c.what;
    ASSERT_FALSE(reading.writes.empty()) << c.what;
    EXPECT_EQ(reading.writes.back(), ServerClose(c.code)) << c.what;
  }
}

TEST(ClientMessageReader, TakesAMessageOfExactlyTheLimitInFragments) {
  const Reading reading =
      ReadAll(ClientFrame(0x01, std::string(6, 'm')) + ClientFrame(0x80, std::string(4, 'm')), 10);
  EXPECT_EQ(reading.texts, (std::vector<std::string>{"", std::string(10, 'm')}));
  EXPECT_EQ(reading.closeCode, 0);
}

}  // namespace
}  // namespace kelvora::service
