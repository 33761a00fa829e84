// Arbitrary bytes as what a client sends first (a SOCKS4 or SOCKS4a request, a SOCKS5 greeting)
// or, when the first input byte is odd, as a SOCKS5 request after the greeting. A parse that takes
// bytes lies within them and the size cap, does not change however the bytes are cut (every
// shorter prefix waits for more, bytes behind it do not matter), and every reply is one the
// protocols define.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "proxy/socks_request.h"

namespace {

using namespace quorvel;
using Status = SocksParse::Status;

void CheckReply(const SocksParse& parse) {
  const BytesView reply = parse.reply;
  switch (parse.status) {
    case Status::kIncomplete:
    case Status::kParsed:
      if (!reply.empty()) std::abort();
      return;
    case Status::kGreeting:
      if (reply != BytesView("\x05\x00", 2)) std::abort();
      return;
    case Status::kRefused:
      if (reply.empty()) return;  // another protocol: closed without a reply
      if (reply[0] == '\0') {
        if (reply.size() != 8 || ByteAt(reply, 1) != kSocks4Rejected) std::abort();
      } else if (reply.size() == 2) {
        if (reply != BytesView("\x05\xFF", 2)) std::abort();
      } else if (reply.size() != 10 || ByteAt(reply, 0) != kSocks5Version ||
                 ByteAt(reply, 1) == 0 || ByteAt(reply, 1) > 8) {
        std::abort();
      }
      return;
  }
}

void Check(BytesView input, SocksStage stage) {
  const SocksParse parse = ParseSocksRequest(input, stage);
  CheckReply(parse);
  if (parse.status != Status::kParsed && parse.status != Status::kGreeting) {
    if (parse.size != 0) std::abort();
    return;
  }
  if (parse.size == 0 || parse.size > input.size() || parse.size > kMaxSocksRequestSize) {
    std::abort();
  }
  if (ParseSocksRequest(input.substr(0, parse.size), stage).size != parse.size) std::abort();
  for (std::size_t cut = 0; cut < parse.size; ++cut) {
    if (ParseSocksRequest(input.substr(0, cut), stage).status != Status::kIncomplete) std::abort();
  }
  if (parse.status == Status::kGreeting) {
    // The request that follows the greeting in the same bytes.
    Check(input.substr(parse.size), SocksStage::kSocks5Request);
    return;
  }
  const SocksRequest& request = parse.request;
  if (request.destination.port == 0 || request.destination.host.empty()) std::abort();
  if (request.destination.host.size() > kMaxSocksHostName) std::abort();
  const Bytes granted = SocksGrantedReply(request, "127.0.0.1", 1);
  if (request.version == kSocks4Version) {
    if (granted.size() != 8 || granted[0] != '\0' ||
        BytesView(granted).substr(2) != input.substr(2, 6)) {
      std::abort();
    }
  } else if (granted.size() != 10 || ByteAt(granted, 0) != kSocks5Version || granted[1] != '\0') {
    std::abort();
  }
  if (request.destination.kind == SocksDestination::Kind::kIPv6) {
    Bytes address;
    if (!ParseIPv6(request.destination.host, address) || address.size() != 16) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const BytesView input(reinterpret_cast<const char*>(data) + 1, size - 1);
  Check(input, (data[0] & 1) != 0 ? SocksStage::kSocks5Request : SocksStage::kOpening);
  return 0;
}
