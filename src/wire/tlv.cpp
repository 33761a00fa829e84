#include "wire/tlv.h"

#include "wire/word.h"

namespace quorvel {

std::optional<TlvLocation> LocateTLV(std::int32_t type, BytesView chain) noexcept {
  std::size_t p = 0;
  while (p + 1 < chain.size()) {
    const std::int32_t t = WordAt(chain, p);
    const auto n = static_cast<std::size_t>(WordAt(chain, p + 2));
    if (t == type) {
      return TlvLocation{p, Slice(chain, p + 4, n)};
    }
    p += 4 + n;
  }
  return std::nullopt;
}

Bytes FindTLV(std::int32_t type, BytesView chain) {
  const auto found = LocateTLV(type, chain);
  return found ? Bytes(found->value) : Bytes(kNoneText);
}

Bytes MakeTLV(std::int32_t type, BytesView value) {
  Bytes out = IntToWord(type);
  out += WordLenString(value);
  return out;
}

}  // namespace quorvel
