#pragma once
// What the front ends tell the user about the listener: whether its address reaches beyond this
// machine, the warning when it does, and why a start failed.

#include <cstdint>
#include <optional>
#include <string>

#include "proxy/address_scope.h"
#include "proxy/relay_host.h"

namespace quorvel {

// IsLoopbackAddress (proxy/address_scope.h) tells whether the bind setting's address is reached
// from this machine only: 127.0.0.0/8 or ::1. Every other address, 0.0.0.0 and :: above all,
// lets other machines in.

// "address:port", with an IPv6 address in brackets.
std::string EndpointText(const std::string& address, std::uint16_t port);

// The warning given while the proxy listens on an address that is not loopback.
std::string BeyondLoopbackWarning(const std::string& address, std::uint16_t port);

// The description of a failed start of the listener when `text` (raised by the relay on `slot`)
// reports one; nothing otherwise.
std::optional<std::string> ListenFailureOf(SlotIndex slot, const std::string& text);

}  // namespace quorvel
