#pragma once
// Which machines an address reaches: only this one (loopback, and the unspecified address, which
// connects here), the local link, or beyond. Pure functions over address text.

#include <string>

namespace quorvel {

// 127.0.0.0/8 and ::1, also as IPv4-mapped IPv6 addresses.
bool IsLoopbackAddress(const std::string& host);
// Addresses a proxy open to other machines must not connect to on their behalf: loopback,
// 0.0.0.0/8 and :: (both reach this machine), and link-local 169.254.0.0/16 and fe80::/10.
// False for anything that is not an address (a host name).
bool IsHostOrLinkLocalAddress(const std::string& host);

}  // namespace quorvel
