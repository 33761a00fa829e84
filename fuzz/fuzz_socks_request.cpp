// Arbitrary bytes as a client's request. A parsed request lies within the bytes and the size cap,
// and whatever way the bytes are cut, the parse does not change: every shorter prefix waits for
// more, and bytes behind the request do not matter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "proxy/socks_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  using Status = SocksParse::Status;
  const BytesView input(reinterpret_cast<const char*>(data), size);
  const SocksParse parse = ParseSocksRequest(input);
  if (parse.status != Status::kParsed) {
    if (parse.size != 0) std::abort();
    return 0;
  }
  if (parse.size == 0 || parse.size > size || parse.size > kMaxSocksRequestSize) std::abort();
  if (ParseSocksRequest(input.substr(0, parse.size)).size != parse.size) std::abort();
  for (std::size_t cut = 0; cut < parse.size; ++cut) {
    if (ParseSocksRequest(input.substr(0, cut)).status != Status::kIncomplete) std::abort();
  }
  const Bytes granted = SocksGrantedReply(parse.request);
  if (granted.size() != 8 || BytesView(granted).substr(2) != input.substr(2, 6)) std::abort();
  return 0;
}
