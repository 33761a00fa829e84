#include "wire/snac.h"

#include "wire/flap.h"

namespace quorvel {

std::optional<std::int32_t> SnacKey(BytesView frame) noexcept {
  if (frame.size() < kSnacKeyMinFrameSize) {
    return std::nullopt;
  }
  return ByteAt(frame, kSnacFamilyOffset + 1) * 256 + ByteAt(frame, kSnacSubtypeOffset + 1);
}

BytesView SnacData(BytesView frame) noexcept { return Slice(frame, kSnacDataOffset); }

}  // namespace quorvel
