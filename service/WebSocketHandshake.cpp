// The handshake's request reading and checks, and the accept value (SHA-1 and Base64 from OpenSSL).
#include "service/WebSocketHandshake.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <array>

namespace kelvora::service {
namespace {

constexpr std::string_view kAcceptGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// True when the comma-separated list holds token, compared without regard to case.
bool ListHasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    if (EqualsIgnoringCase(TrimBlanks(list.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

void AppendListValue(std::string& list, std::string_view value) {
  if (!list.empty()) list += ", ";
  list += value;
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

THandshakeRequest ReadHandshakeRequest(ByteStream& stream) {
  THandshakeRequest request;
  const std::string requestLine = ReadHandshakeLine(stream);
  request.Method = requestLine.substr(0, requestLine.find(' '));
  size_t headers = 0;
  for (std::string line = ReadHandshakeLine(stream); !line.empty();
       line = ReadHandshakeLine(stream)) {
    if (++headers > kMaxHandshakeHeaders) throw ETooManyHeaders("Too many header lines.");
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string_view name = std::string_view(line).substr(0, colon);
    const std::string_view value = TrimBlanks(std::string_view(line).substr(colon + 1));
    if (EqualsIgnoringCase(name, "Upgrade")) {
      AppendListValue(request.Upgrade, value);
    } else if (EqualsIgnoringCase(name, "Connection")) {
      AppendListValue(request.Connection, value);
    } else if (EqualsIgnoringCase(name, "Sec-WebSocket-Version")) {
      request.Version = value;
    } else if (EqualsIgnoringCase(name, "Sec-WebSocket-Key")) {
      request.Key = value;
    } else if (EqualsIgnoringCase(name, "Origin")) {
      if (!request.Origin) request.Origin.emplace();
      AppendListValue(*request.Origin, value);
    }
  }
  return request;
}

THandshakeVerdict CheckHandshake(const THandshakeRequest& request, const TOriginPolicy& origins) {
  const bool wellFormed = request.Method == "GET" && ListHasToken(request.Upgrade, "websocket") &&
                          ListHasToken(request.Connection, "Upgrade") && request.Version == "13" &&
                          !request.Key.empty();
  if (!wellFormed) return THandshakeVerdict::BadRequest;
  if (!origins.Allows(request.Origin)) return THandshakeVerdict::Forbidden;
  return THandshakeVerdict::Accepted;
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

std::string RefusalResponse(THandshakeVerdict verdict) {
  const std::string_view status = verdict == THandshakeVerdict::Forbidden
                                      ? "HTTP/1.1 403 Forbidden\r\n"
                                      : "HTTP/1.1 400 Bad Request\r\n";
  return std::string(status) + "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

void WebSocketHandshake(ByteStream& AContext, const TOriginPolicy& origins) {
  const THandshakeRequest request = ReadHandshakeRequest(AContext);
  const THandshakeVerdict verdict = CheckHandshake(request, origins);
  if (verdict != THandshakeVerdict::Accepted) {
    AContext.WriteAll(RefusalResponse(verdict));
    if (verdict == THandshakeVerdict::Forbidden) throw EOriginRefused(*request.Origin);
    throw EHandshakeRefused("Bad WebSocket handshake request");
  }
  AContext.WriteAll(HandshakeResponse(GenerateSecWebSocketAccept(request.Key)));
}

}  // namespace kelvora::service
