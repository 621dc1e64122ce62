// The Pix "copia e cola" text (an EMV BR Code) that the simulator shows as its QR code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvora::sim {

// A static BR Code for `cents`, identified by `txid`, payable to the simulator's fictitious
// receiver; it ends in the CRC of its own text, as a payer's app checks it.
std::string pixCopyPaste(std::int64_t cents, std::string_view txid);

// CRC-16/CCITT-FALSE (polynomial 0x1021, initial value 0xFFFF), the checksum of a BR Code.
std::uint16_t crc16Ccitt(std::string_view data);

}  // namespace kelvora::sim
