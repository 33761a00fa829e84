#include "wire/snac.h"

#include "wire/flap.h"

namespace quorvel {

BytesView SnacData(BytesView frame) noexcept {
  return Slice(frame, kSnacDataOffset);
}

}  // namespace quorvel
