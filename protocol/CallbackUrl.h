// The check of the sales API's base address a session token names, before anything is posted to
// it.
#pragma once

#include <string_view>

namespace kelvora::protocol {

// True for an absolute http or https address with a host and without user information, query or
// fragment ("https://vendas.example/api"). Anything else (another scheme, a relative address,
// "http://user@host", "https://host/?a=1", "https://host/#x", blanks or control characters) is
// not a place the service posts payments to.
bool IsValidCallbackURL(std::string_view pURL);

}  // namespace kelvora::protocol
