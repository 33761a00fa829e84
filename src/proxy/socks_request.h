#pragma once
// The request with which a client asks the proxy for a connection, and the replies that answer it.
// Pure functions over the bytes the client has sent so far. Served on one port, told apart by the
// first byte: SOCKS4 CONNECT (with the SOCKS4a host-name form) and SOCKS5 CONNECT without
// authentication (RFC 1928) to an IPv4 address, a domain name or an IPv6 address.

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
  // The destination bytes as a SOCKS4 request carried them (port, then address); its replies
  // echo them.
  Bytes echo;
};

// Where a client stands in its handshake.
enum class SocksStage {
  kOpening,        // nothing taken yet: a SOCKS4 request or a SOCKS5 greeting comes
  kSocks5Request,  // the SOCKS5 greeting was answered: its CONNECT request comes
};

struct SocksParse {
  enum class Status {
    kIncomplete,  // not all of it is there yet: leave the bytes unread and wait
    kRefused,     // not served: send `reply` (when not empty), then close
    kGreeting,    // a SOCKS5 greeting taking the first `size` bytes: send `reply`, then wait for
                  // the request at stage kSocks5Request
    kParsed,      // `request` is set and took the first `size` bytes
  };
  Status status = Status::kIncomplete;
  SocksRequest request;
  std::size_t size = 0;
  Bytes reply;
};

// Why a request is not served, as the replies tell it. SOCKS4 has one code for all of them.
enum class SocksFailure : std::uint8_t {
  kGeneral = 0x01,
  kNotAllowed = 0x02,
  kNetworkUnreachable = 0x03,
  kHostUnreachable = 0x04,
  kRefused = 0x05,
  kTimedOut = 0x06,
  kCommandNotSupported = 0x07,
  kAddressTypeNotSupported = 0x08,
};

inline constexpr std::uint8_t kSocks4Version = 0x04;
inline constexpr std::uint8_t kSocks5Version = 0x05;
inline constexpr std::uint8_t kSocksConnect = 0x01;
// Version, command, port and IPv4 address come before the user id.
inline constexpr std::size_t kSocks4FixedSize = 8;
// A SOCKS4 user id must end (its zero byte included) within this many bytes of the request's
// start; a longer one is refused, so that a client cannot make the proxy wait on an endless one.
inline constexpr std::size_t kMaxSocks4UserIdEnd = 1024;
// The longest host name taken, from SOCKS4a and SOCKS5 alike (SOCKS5 cannot send a longer one).
inline constexpr std::size_t kMaxSocksHostName = 255;
// No request of any form is longer than this.
inline constexpr std::size_t kMaxSocksRequestSize = kMaxSocks4UserIdEnd + kMaxSocksHostName + 1;
// Reply codes of SOCKS4.
inline constexpr std::uint8_t kSocks4Granted = 0x5A;
inline constexpr std::uint8_t kSocks4Rejected = 0x5B;

// Reads what the client sent at the front of `bytes`, at stage `stage`. Only bytes up to
// kMaxSocksRequestSize are looked at; whatever follows the request is not part of it.
SocksParse ParseSocksRequest(BytesView bytes, SocksStage stage = SocksStage::kOpening);

// The reply that grants `request`. A SOCKS5 reply carries the address and port the proxy's own
// connection is bound to (`boundHost` as dotted IPv4 or IPv6 text; 0.0.0.0 when empty or not an
// address); a SOCKS4 reply echoes the request's destination bytes.
Bytes SocksGrantedReply(const SocksRequest& request, const std::string& boundHost = {},
                        std::uint16_t boundPort = 0);
// The reply that refuses `request` for `why`.
Bytes SocksFailureReply(const SocksRequest& request, SocksFailure why = SocksFailure::kGeneral);

// The 16 bytes of an IPv6 address in text ("::1", "2001:db8::2:1"), or 4 bytes of an IPv4 one;
// false when `text` is neither.
bool ParseIPv6(const std::string& text, Bytes& address);
bool ParseIPv4(const std::string& text, Bytes& address);

}  // namespace quorvel
