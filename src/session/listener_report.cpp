#include "session/listener_report.h"

#include "proxy/relay_events.h"

namespace quorvel {

std::string EndpointText(const std::string& address, std::uint16_t port) {
  const bool v6 = address.find(':') != std::string::npos;
  return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

std::string BeyondLoopbackWarning(const std::string& address, std::uint16_t port) {
  return "Warning: listening on " + EndpointText(address, port) +
         ", not only on this machine: other machines can use this proxy";
}

std::optional<std::string> ListenFailureOf(SlotIndex slot, const std::string& text) {
  if (slot != 0 || !text.starts_with(kStartListeningFailure)) return std::nullopt;
  return text.substr(kStartListeningFailure.size());
}

}  // namespace quorvel
