#pragma once

#include <cstdint>

namespace hopwise {

// An IPv4 address as the socket layer stores it: network byte order, so the first octet of the
// dotted form is the lowest-addressed byte. Nothing in the engine swaps it.
using IpAddress = std::uint32_t;

// The failure value of name resolution (the all-ones address, 255.255.255.255).
inline constexpr IpAddress kAddressNone = 0xFFFFFFFFu;

} // namespace hopwise
