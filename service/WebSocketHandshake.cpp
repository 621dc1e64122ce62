// The handshake's request reading and the accept value (SHA-1 and Base64 from OpenSSL).
#include "service/WebSocketHandshake.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <array>

namespace kelvora::service {
namespace {

constexpr std::string_view kKeyHeader = "Sec-WebSocket-Key:";
constexpr std::string_view kAcceptGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

std::string ReadHandshakeLine(ByteStream& stream) {
  std::string line;
  for (;;) {
    char byte = 0;
    ReadExact(stream, std::span<char>(&byte, 1));
    if (byte == '\n') break;
    // One more byte than the limit may still be the CR of a line of exactly the limit.
    if (line.size() > kMaxHandshakeLine) throw ELineTooLong("Max line length exceeded.");
    line += static_cast<unsigned char>(byte) > 127 ? '?' : byte;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kMaxHandshakeLine) throw ELineTooLong("Max line length exceeded.");
  return line;
}

std::string ReadSecWebSocketKey(ByteStream& stream) {
  std::string key;
  for (std::string line = ReadHandshakeLine(stream); !line.empty();
       line = ReadHandshakeLine(stream)) {
    if (line.starts_with(kKeyHeader)) {
      key = TrimBlanks(std::string_view(line).substr(kKeyHeader.size()));
    }
  }
  return key;
}

std::string GenerateSecWebSocketAccept(std::string_view SecWebSocketKey) {
  std::string text(SecWebSocketKey);
  text += kAcceptGuid;
  std::array<unsigned char, SHA_DIGEST_LENGTH> digest{};
  unsigned int digestLength = 0;
  EVP_Digest(text.data(), text.size(), digest.data(), &digestLength, EVP_sha1(), nullptr);
  std::array<unsigned char, 4 * ((SHA_DIGEST_LENGTH + 2) / 3) + 1> encoded{};
  const int length = EVP_EncodeBlock(encoded.data(), digest.data(), static_cast<int>(digestLength));
  return std::string(reinterpret_cast<const char*>(encoded.data()), static_cast<size_t>(length));
}

std::string HandshakeResponse(std::string_view acceptValue) {
  std::string response;
  response += "HTTP/1.1 101 Switching Protocols\r\n";
  response += "Upgrade: websocket\r\n";
  response += "Connection: Upgrade\r\n";
  response += "Sec-WebSocket-Accept: ";
  response += acceptValue;
  response += "\r\n";
  response += "Access-Control-Allow-Origin: *\r\n";
  response += "Access-Control-Allow-Methods: GET, POST, OPTIONS\r\n";
  response += "Access-Control-Allow-Headers: Content-Type\r\n";
  response += "Access-Control-Allow-Credentials: true\r\n";
  response += "\r\n";
  return response;
}

void WebSocketHandshake(ByteStream& AContext) {
  const std::string key = ReadSecWebSocketKey(AContext);
  AContext.WriteAll(HandshakeResponse(GenerateSecWebSocketAccept(key)));
}

}  // namespace kelvora::service
