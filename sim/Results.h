// The result codes the simulated library returns, with the meanings the SiTef library gives them.
#pragma once

namespace kelvora::sim {

constexpr int kCommandPending = 10000;    // a dialogue has started, or a command is pending
constexpr int kNotConfigured = -1;        // no successful configuration yet
constexpr int kCancelledByOperator = -2;  // the caller aborted the dialogue
constexpr int kUnknownFunction = -3;      // a function code the library does not offer
constexpr int kOutOfMemory = -4;
constexpr int kNoDialogue = -12;       // ContinuaFuncaoSiTefInterativo without a dialogue
constexpr int kInvalidArgument = -20;  // a missing or malformed argument
constexpr int kRefusedByServer = -40;  // the SiTef server refused, e.g. nothing to reprint
constexpr int kNoPinpad = -43;         // the pin-pad is absent
constexpr int kInternalError = -100;   // e.g. the ledger could not be read or written
constexpr int kRefusedByAuthorizer = 51;

}  // namespace kelvora::sim
