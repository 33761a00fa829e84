#pragma once
// The texts the relay raises as events, and how the event log shows them. Users read these in the
// event log, so their bytes stay as they are.

#include <string>
#include <string_view>

#include "proxy/relay_host.h"

namespace quorvel {

// A client's request was taken; the destination address follows.
inline constexpr std::string_view kConnectingEvent = "Connecting: ";
inline constexpr std::string_view kClientClosedEvent = "Local Socket Closed";
inline constexpr std::string_view kServerClosedEvent = "Remote Socket Closed";
// A connection failed (the server's connect, or a reset or timeout of either established
// connection); the description and " (" the peer's address ")" follow.
inline constexpr std::string_view kServerErrorEvent = "Socket Error: ";
// A client's request was refused: not a request the proxy serves (another protocol, BIND, an
// over-long user id or host name, port 0).
inline constexpr std::string_view kRequestRefusedEvent = "Request Refused";
// A client did not complete its request, or its server connection did not stand, in time.
inline constexpr std::string_view kRequestTimedOutEvent = "Request Timed Out";
// A client from another machine asked for a destination on this machine or its local link; the
// address follows.
inline constexpr std::string_view kDestinationNotAllowedEvent = "Destination Not Allowed: ";
// A send found a side of its slot gone.
inline constexpr std::string_view kUnexpectedlyClosedEvent = "Connection was unexpectedly closed.";

// Prefixes of failure reports, by where the failure happened; its description follows.
// Accepting a client, or handling the server connection's connect, error or close.
inline constexpr std::string_view kServerSocketFailure = "Remote Socket Failure: ";
// Handling the client's bytes or its close.
inline constexpr std::string_view kClientSocketFailure = "Local Socket Failure: ";
// Handling the server's bytes.
inline constexpr std::string_view kServerBytesFailure = "Remote Socking Failure: ";
// Sending a frame to the server, or to the client.
inline constexpr std::string_view kFrameToServerFailure = "Local Send Failure: ";
inline constexpr std::string_view kFrameToClientFailure = "Server Send Failure: ";
inline constexpr std::string_view kStartListeningFailure = "Start Listen Failure: ";
inline constexpr std::string_view kStopListeningFailure = "Stop Listen Failure: ";

// "Socket (" slot "): " text, as the event log shows a relay event.
inline std::string RelayEventLine(SlotIndex slot, std::string_view text) {
  return "Socket (" + std::to_string(slot) + "): " + std::string(text);
}

}  // namespace quorvel
