#include "proxy/socks_request.h"

#include "wire/word.h"

namespace quorvel {
namespace {

constexpr std::size_t kPortOffset = 2;
constexpr std::size_t kAddressOffset = 4;
constexpr std::size_t kIPv4Size = 4;

std::string DottedAddress(BytesView address) {
  std::string text;
  for (std::size_t k = 0; k < address.size(); ++k) {
    if (k > 0) text += '.';
    text += std::to_string(ByteAt(address, k));
  }
  return text;
}

SocksParse Unparsed(SocksParse::Status status) {
  SocksParse parse;
  parse.status = status;
  return parse;
}

Bytes Socks4Reply(std::uint8_t code, const SocksRequest& request) {
  Bytes reply{static_cast<char>(kSocks4Version), static_cast<char>(code)};
  reply += request.echo;
  return reply;
}

}  // namespace

SocksParse ParseSocksRequest(BytesView bytes) {
  using Status = SocksParse::Status;
  // Version and command are judged as soon as they are there, so that anything else (a SOCKS5
  // greeting, BIND) is dropped without waiting for more.
  if (bytes.empty()) return Unparsed(Status::kIncomplete);
  if (ByteAt(bytes, 0) != kSocks4Version) return Unparsed(Status::kRejected);
  if (bytes.size() < 2) return Unparsed(Status::kIncomplete);
  if (ByteAt(bytes, 1) != kSocksConnect) return Unparsed(Status::kRejected);

  const BytesView window = Slice(bytes, 0, kMaxSocksRequestSize);
  const std::size_t end =
      window.size() > kSocks4FixedSize ? window.find('\0', kSocks4FixedSize) : BytesView::npos;
  if (end == BytesView::npos) {
    return Unparsed(window.size() >= kMaxSocksRequestSize ? Status::kRejected
                                                          : Status::kIncomplete);
  }
  SocksParse parse = Unparsed(Status::kParsed);
  parse.size = end + 1;
  parse.request.version = kSocks4Version;
  parse.request.destination.kind = SocksDestination::Kind::kIPv4;
  parse.request.destination.host = DottedAddress(Slice(bytes, kAddressOffset, kIPv4Size));
  parse.request.destination.port = static_cast<std::uint16_t>(WordAt(bytes, kPortOffset));
  parse.request.echo = Bytes(Slice(bytes, kPortOffset, kSocks4FixedSize - kPortOffset));
  return parse;
}

Bytes SocksGrantedReply(const SocksRequest& request) {
  return Socks4Reply(kSocks4Granted, request);
}

Bytes SocksRejectedReply(const SocksRequest& request) {
  return Socks4Reply(kSocks4Rejected, request);
}

}  // namespace quorvel
