// Arbitrary bytes into the parsers of outside data: none may crash, read out of bounds or loop.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "wire/snac.h"
#include "wire/tlv.h"
#include "wire/word.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  const BytesView input(reinterpret_cast<const char*>(data), size);
  if (size < 2) {
    return 0;
  }
  const std::int32_t type = WordAt(input, 0);
  const BytesView chain = input.substr(2);

  const Bytes value = FindTLV(type, chain);
  const auto located = LocateTLV(type, chain);
  if (located) {
    // The value is a view into the chain, right behind its four header bytes.
    const bool misplaced =
        !located->value.empty() && located->value.data() != chain.data() + located->offset + 4;
    if (misplaced || value != located->value) {
      std::abort();
    }
  } else if (value != kNoneText) {
    std::abort();
  }

  const Bytes name = ByteLenString(chain);
  if (name.size() > 255 || name.size() + 1 > chain.size() + 1) {
    std::abort();
  }

  const auto key = SnacKey(chain);
  if (key.has_value() != (chain.size() >= 10) || (key && (*key < 0 || *key > 0xFFFF))) {
    std::abort();
  }
  return 0;
}
