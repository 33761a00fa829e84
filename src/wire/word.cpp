#include "wire/word.h"

#include <string>

#include "wire/error.h"

namespace quorvel {

Bytes IntToWord(std::int32_t value) {
  if (value < 0 || value > kMaxWord) {
    throw Error("value " + std::to_string(value) + " does not fit a 16-bit word");
  }
  Bytes out(2, '\0');
  PutWord(out, 0, static_cast<std::uint16_t>(value));
  return out;
}

void PutWord(Bytes& data, std::size_t offset, std::uint16_t value) noexcept {
  data[offset] = static_cast<char>(value >> 8);
  data[offset + 1] = static_cast<char>(value & 0xFF);
}

Bytes WordLenString(BytesView text) {
  if (text.size() > static_cast<std::size_t>(kMaxWord)) {
    throw Error("text of " + std::to_string(text.size()) +
                " bytes is too long for a 16-bit length prefix");
  }
  Bytes out = IntToWord(static_cast<std::int32_t>(text.size()));
  out.append(text);
  return out;
}

Bytes ByteLenString(BytesView data) {
  if (data.empty()) {
    return {};
  }
  return Bytes(Slice(data, 1, ByteAt(data, 0)));
}

}  // namespace quorvel
