#include "proxy/address_scope.h"

#include "proxy/socks_request.h"
#include "wire/bytes.h"

namespace quorvel {
namespace {

// The four bytes of an IPv4 address, also when written as an IPv4-mapped IPv6 address.
bool IPv4Of(const std::string& host, Bytes& v4) {
  if (ParseIPv4(host, v4)) return true;
  Bytes v6;
  if (!ParseIPv6(host, v6) || v6.compare(0, 12, Bytes(10, '\0') + "\xFF\xFF") != 0) return false;
  v4 = v6.substr(12);
  return true;
}

}  // namespace

bool IsLoopbackAddress(const std::string& host) {
  Bytes address;
  if (IPv4Of(host, address)) return ByteAt(address, 0) == 127;
  return ParseIPv6(host, address) && address == Bytes(15, '\0') + '\x01';
}

bool IsHostOrLinkLocalAddress(const std::string& host) {
  Bytes address;
  if (IPv4Of(host, address)) {
    const std::uint8_t first = ByteAt(address, 0);
    return first == 127 || first == 0 || (first == 169 && ByteAt(address, 1) == 254);
  }
  if (!ParseIPv6(host, address)) return false;
  if (address == Bytes(16, '\0') || address == Bytes(15, '\0') + '\x01') return true;
  return ByteAt(address, 0) == 0xFE && (ByteAt(address, 1) & 0xC0) == 0x80;
}

}  // namespace quorvel
