// The Pix "copia e cola" text: EMV tag-length-value fields with a CRC-16 at the end.
#include "PixCode.h"

#include <cstdio>

#include "Sale.h"

namespace kelvora::sim {
namespace {

// One EMV field: two-digit tag, two-digit length, value.
std::string field(std::string_view tag, std::string_view value) {
  char length[3];
  std::snprintf(length, sizeof length, "%02zu", value.size());
  return std::string(tag) + length + std::string(value);
}

}  // namespace

std::uint16_t crc16Ccitt(std::string_view data) {
  std::uint16_t crc = 0xFFFF;
  for (unsigned char byte : data) {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<std::uint16_t>(crc << 1);
    }
  }
  return crc;
}

std::string pixCopyPaste(std::int64_t cents, std::string_view txid) {
  std::string amount = formatCents(cents);
  amount[amount.find(',')] = '.';  // a BR Code writes amounts with a decimal point
  std::string code =
      field("00", "01") +
      field("26", field("00", "br.gov.bcb.pix") + field("01", "simulador@kelvora.invalid")) +
      field("52", "0000") + field("53", "986") + field("54", amount) + field("58", "BR") +
      field("59", "KELVORA SIMULADOR") + field("60", "SAO PAULO") + field("62", field("05", txid)) +
      "6304";
  char crc[5];
  std::snprintf(crc, sizeof crc, "%04X", crc16Ccitt(code));
  return code + crc;
}

}  // namespace kelvora::sim
