#include "proxy/socks_request.h"

#include <algorithm>
#include <array>
#include <vector>

#include "wire/word.h"

namespace quorvel {
namespace {

using Status = SocksParse::Status;

constexpr std::size_t kPortOffset = 2;
constexpr std::size_t kAddressOffset = 4;
constexpr std::size_t kIPv4Size = 4;
constexpr std::size_t kIPv6Size = 16;

// SOCKS5: no authentication required, and no acceptable method offered.
constexpr std::uint8_t kNoAuthentication = 0x00;
constexpr std::uint8_t kNoAcceptableMethod = 0xFF;
// SOCKS5 address types.
constexpr std::uint8_t kAddressIPv4 = 0x01;
constexpr std::uint8_t kAddressName = 0x03;
constexpr std::uint8_t kAddressIPv6 = 0x04;
// Version, command, reserved byte and address type come before a SOCKS5 request's address.
constexpr std::size_t kSocks5FixedSize = 4;

std::string DottedAddress(BytesView address) {
  std::string text;
  for (std::size_t k = 0; k < address.size(); ++k) {
    if (k > 0) text += '.';
    text += std::to_string(ByteAt(address, k));
  }
  return text;
}

// The recommended text form: lower-case hex groups without leading zeros, the longest run of two
// or more zero groups (the first of equal ones) written "::".
std::string IPv6Text(BytesView address) {
  std::array<unsigned, 8> groups{};
  for (std::size_t g = 0; g < groups.size(); ++g) {
    groups[g] = static_cast<unsigned>(ByteAt(address, 2 * g) << 8 | ByteAt(address, 2 * g + 1));
  }
  std::size_t bestStart = groups.size(), bestLength = 1;
  for (std::size_t g = 0; g < groups.size();) {
    std::size_t end = g;
    while (end < groups.size() && groups[end] == 0) ++end;
    if (end - g > bestLength) {
      bestStart = g;
      bestLength = end - g;
    }
    g = end == g ? g + 1 : end;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (g == bestStart) {
      text += "::";
      g += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = (groups[g] >> shift) & 0xF;
      if (digit == 0 && !started && shift > 0) continue;
      started = true;
      text += kHex[digit];
    }
  }
  return text;
}

SocksParse Incomplete() {
  return {};
}

SocksParse Refused(Bytes reply) {
  SocksParse parse;
  parse.status = Status::kRefused;
  parse.reply = std::move(reply);
  return parse;
}

Bytes Socks4Reply(std::uint8_t code, BytesView echo) {
  Bytes reply{static_cast<char>(0), static_cast<char>(code)};
  reply += echo;
  reply.resize(kSocks4FixedSize, '\0');
  return reply;
}

Bytes Socks5Reply(SocksFailure code) {
  return Bytes{static_cast<char>(kSocks5Version), static_cast<char>(code), '\0',
               static_cast<char>(kAddressIPv4)} +
         Bytes(kIPv4Size + 2, '\0');
}

// SOCKS4: version, command, port, IPv4 address, a user id ending in a zero byte. An address of
// 0.0.0.x with x not 0 is the SOCKS4a form: a host name ending in a zero byte follows the user id.
SocksParse ParseSocks4(BytesView bytes) {
  const BytesView echo = Slice(bytes, kPortOffset, kSocks4FixedSize - kPortOffset);
  if (bytes.size() < 2) return Incomplete();
  if (ByteAt(bytes, 1) != kSocksConnect) return Refused(Socks4Reply(kSocks4Rejected, echo));
  if (bytes.size() <= kSocks4FixedSize) return Incomplete();

  const BytesView window = Slice(bytes, 0, kMaxSocks4UserIdEnd);
  const std::size_t userIdEnd = window.find('\0', kSocks4FixedSize);
  if (userIdEnd == BytesView::npos) {
    return window.size() >= kMaxSocks4UserIdEnd ? Refused(Socks4Reply(kSocks4Rejected, echo))
                                                : Incomplete();
  }
  SocksParse parse;
  parse.status = Status::kParsed;
  parse.size = userIdEnd + 1;
  SocksRequest& request = parse.request;
  request.version = kSocks4Version;
  request.echo = Bytes(echo);
  request.destination.port = static_cast<std::uint16_t>(WordAt(bytes, kPortOffset));
  const BytesView address = Slice(bytes, kAddressOffset, kIPv4Size);
  const bool named = address.substr(0, 3) == BytesView("\0\0\0", 3) && address[3] != '\0';
  if (named) {
    const BytesView rest = Slice(bytes, parse.size, kMaxSocksHostName + 1);
    const std::size_t nameEnd = rest.find('\0');
    if (nameEnd == BytesView::npos) {
      return rest.size() > kMaxSocksHostName ? Refused(Socks4Reply(kSocks4Rejected, echo))
                                             : Incomplete();
    }
    if (nameEnd == 0) return Refused(Socks4Reply(kSocks4Rejected, echo));
    request.destination.kind = SocksDestination::Kind::kHostName;
    request.destination.host = Bytes(rest.substr(0, nameEnd));
    parse.size += nameEnd + 1;
  } else {
    request.destination.kind = SocksDestination::Kind::kIPv4;
    request.destination.host = DottedAddress(address);
  }
  if (request.destination.port == 0) return Refused(Socks4Reply(kSocks4Rejected, echo));
  return parse;
}

// SOCKS5 greeting: version, the number of methods, the methods.
SocksParse ParseSocks5Greeting(BytesView bytes) {
  if (bytes.size() < 2) return Incomplete();
  const std::size_t count = ByteAt(bytes, 1);
  if (bytes.size() < 2 + count) return Incomplete();
  const BytesView methods = bytes.substr(2, count);
  if (methods.find(static_cast<char>(kNoAuthentication)) == BytesView::npos) {
    return Refused(
        Bytes{static_cast<char>(kSocks5Version), static_cast<char>(kNoAcceptableMethod)});
  }
  SocksParse parse;
  parse.status = Status::kGreeting;
  parse.size = 2 + count;
  parse.reply = Bytes{static_cast<char>(kSocks5Version), static_cast<char>(kNoAuthentication)};
  return parse;
}

// SOCKS5 request: version, command, a reserved byte, the address type, the address, the port.
SocksParse ParseSocks5Request(BytesView bytes) {
  if (bytes.empty()) return Incomplete();
  if (ByteAt(bytes, 0) != kSocks5Version) return Refused(Socks5Reply(SocksFailure::kGeneral));
  if (bytes.size() < 2) return Incomplete();
  if (ByteAt(bytes, 1) != kSocksConnect) {
    return Refused(Socks5Reply(SocksFailure::kCommandNotSupported));
  }
  if (bytes.size() < kSocks5FixedSize) return Incomplete();
  SocksParse parse;
  SocksDestination& destination = parse.request.destination;
  std::size_t addressStart = kSocks5FixedSize, addressSize = 0;
  switch (ByteAt(bytes, 3)) {
    case kAddressIPv4:
      destination.kind = SocksDestination::Kind::kIPv4;
      addressSize = kIPv4Size;
      break;
    case kAddressIPv6:
      destination.kind = SocksDestination::Kind::kIPv6;
      addressSize = kIPv6Size;
      break;
    case kAddressName:
      if (bytes.size() <= kSocks5FixedSize) return Incomplete();
      destination.kind = SocksDestination::Kind::kHostName;
      addressStart = kSocks5FixedSize + 1;
      addressSize = ByteAt(bytes, kSocks5FixedSize);
      if (addressSize == 0) return Refused(Socks5Reply(SocksFailure::kGeneral));
      break;
    default:
      return Refused(Socks5Reply(SocksFailure::kAddressTypeNotSupported));
  }
  const std::size_t size = addressStart + addressSize + 2;
  if (bytes.size() < size) return Incomplete();
  const BytesView address = bytes.substr(addressStart, addressSize);
  switch (destination.kind) {
    case SocksDestination::Kind::kIPv4:
      destination.host = DottedAddress(address);
      break;
    case SocksDestination::Kind::kIPv6:
      destination.host = IPv6Text(address);
      break;
    case SocksDestination::Kind::kHostName:
      destination.host = Bytes(address);
      break;
  }
  destination.port = static_cast<std::uint16_t>(WordAt(bytes, addressStart + addressSize));
  if (destination.port == 0) return Refused(Socks5Reply(SocksFailure::kGeneral));
  parse.status = Status::kParsed;
  parse.size = size;
  parse.request.version = kSocks5Version;
  return parse;
}

}  // namespace

SocksParse ParseSocksRequest(BytesView bytes, SocksStage stage) {
  bytes = Slice(bytes, 0, kMaxSocksRequestSize);
  if (stage == SocksStage::kSocks5Request) return ParseSocks5Request(bytes);
  if (bytes.empty()) return Incomplete();
  switch (ByteAt(bytes, 0)) {
    case kSocks4Version:
      return ParseSocks4(bytes);
    case kSocks5Version:
      return ParseSocks5Greeting(bytes);
    default:
      // No protocol to answer in: the connection is closed.
      return Refused({});
  }
}

Bytes SocksGrantedReply(const SocksRequest& request, const std::string& boundHost,
                        std::uint16_t boundPort) {
  if (request.version != kSocks5Version) return Socks4Reply(kSocks4Granted, request.echo);
  Bytes address;
  std::uint8_t type = kAddressIPv4;
  if (ParseIPv6(boundHost, address)) {
    type = kAddressIPv6;
  } else if (!ParseIPv4(boundHost, address)) {
    address = Bytes(kIPv4Size, '\0');
  }
  Bytes reply{static_cast<char>(kSocks5Version), '\0', '\0', static_cast<char>(type)};
  reply += address;
  reply += IntToWord(boundPort);
  return reply;
}

Bytes SocksFailureReply(const SocksRequest& request, SocksFailure why) {
  if (request.version != kSocks5Version) return Socks4Reply(kSocks4Rejected, request.echo);
  return Socks5Reply(why);
}

bool ParseIPv4(const std::string& text, Bytes& address) {
  Bytes out;
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    const std::size_t start = pos;
    unsigned value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
    }
    if (pos == start || value > 255) return false;
    out += static_cast<char>(value);
  }
  if (pos != text.size()) return false;
  address = out;
  return true;
}

bool ParseIPv6(const std::string& text, Bytes& address) {
  // Groups before and after a "::", then an optional dotted IPv4 tail.
  std::array<std::vector<unsigned>, 2> parts;
  int half = 0;
  std::size_t pos = 0;
  Bytes tail;
  if (text.starts_with("::")) {
    half = 1;
    pos = 2;
  } else if (text.starts_with(":")) {
    return false;
  }
  while (pos < text.size()) {
    const std::size_t next = text.find(':', pos);
    const std::string group = text.substr(pos, next == std::string::npos ? next : next - pos);
    if (group.find('.') != std::string::npos && next == std::string::npos) {
      if (!ParseIPv4(group, tail)) return false;
      pos = text.size();
      break;
    }
    if (group.empty() || group.size() > 4) return false;
    unsigned value = 0;
    for (char c : group) {
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    parts[static_cast<std::size_t>(half)].push_back(value);
    if (next == std::string::npos) {
      pos = text.size();
    } else if (text.compare(next, 2, "::") == 0) {
      if (half == 1) return false;
      half = 1;
      pos = next + 2;
    } else {
      pos = next + 1;
      if (pos == text.size()) return false;
    }
  }
  const std::size_t groups = parts[0].size() + parts[1].size() + tail.size() / 2;
  if (groups > 8 || (half == 0 && groups != 8) || (half == 1 && groups == 8)) return false;
  Bytes out;
  auto put = [&out](unsigned v) {
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v & 0xFF);
  };
  for (unsigned v : parts[0]) put(v);
  for (std::size_t k = groups; k < 8; ++k) put(0);
  for (unsigned v : parts[1]) put(v);
  out += tail;
  address = out;
  return true;
}

}  // namespace quorvel
