#pragma once
// The request with which a client asks the proxy for a connection, and the replies that answer it.
// Pure functions over the bytes the client has sent so far. Accepted today: SOCKS4 CONNECT (version
// 4, command 1, port, IPv4 address, a user id ending in a zero byte).

#include <cstddef>
#include <cstdint>
#include <string>

#include "wire/bytes.h"

namespace quorvel {

// Where the client asks to be connected.
struct SocksDestination {
  enum class Kind { kIPv4, kHostName, kIPv6 };
  Kind kind = Kind::kIPv4;
  // Dotted decimal for IPv4 (no leading zeros), the name itself, or the IPv6 address as text.
  std::string host;
  std::uint16_t port = 0;
};

struct SocksRequest {
  std::uint8_t version = 4;
  SocksDestination destination;
  // The destination bytes as the request carried them (port, then address); a SOCKS4 reply
  // echoes them.
  Bytes echo;
};

struct SocksParse {
  enum class Status {
    kIncomplete,  // not all of the request is there yet: leave the bytes unread and wait
    kRejected,    // not a request the proxy serves: drop the bytes
    kParsed,      // `request` is set and took the first `size` bytes
  };
  Status status = Status::kIncomplete;
  SocksRequest request;
  std::size_t size = 0;
};

inline constexpr std::uint8_t kSocks4Version = 0x04;
inline constexpr std::uint8_t kSocksConnect = 0x01;
// Version, command, port and IPv4 address come before the user id.
inline constexpr std::size_t kSocks4FixedSize = 8;
// A request whose user id has not ended within this many bytes is rejected, so that a client
// cannot make the proxy wait on an endless one.
inline constexpr std::size_t kMaxSocksRequestSize = 1024;
// Reply codes of SOCKS4.
inline constexpr std::uint8_t kSocks4Granted = 0x5A;
inline constexpr std::uint8_t kSocks4Rejected = 0x5B;

// Reads the request at the front of `bytes`. Only bytes up to kMaxSocksRequestSize are looked at;
// whatever follows the request is not part of it.
SocksParse ParseSocksRequest(BytesView bytes);

// The replies to a SOCKS4 `request`: 0x04, the code, then the echoed destination bytes.
Bytes SocksGrantedReply(const SocksRequest& request);
Bytes SocksRejectedReply(const SocksRequest& request);

}  // namespace quorvel
