#pragma once
// Big-endian 16-bit words and the two length-prefixed string forms of OSCAR.

#include <cstdint>

#include "wire/bytes.h"

namespace quorvel {

inline constexpr std::int32_t kMaxWord = 65535;

// The two bytes of `value`, high byte first. Throws Error when value is outside 0..65535.
Bytes IntToWord(std::int32_t value);

// first * 256 + second when `bytes` is exactly two bytes long; 0 for any other length.
constexpr std::int32_t WordToInt(BytesView bytes) noexcept {
  return bytes.size() == 2 ? ByteAt(bytes, 0) * 256 + ByteAt(bytes, 1) : 0;
}

// The 16-bit value at 0-based `offset`, or 0 when fewer than two bytes remain there.
constexpr std::int32_t WordAt(BytesView data, std::size_t offset) noexcept {
  return WordToInt(Slice(data, offset, 2));
}

// Writes the big-endian `value` (0..65535) over the two bytes at `offset`; the caller ensures the
// bytes exist.
void PutWord(Bytes& data, std::size_t offset, std::uint16_t value) noexcept;

// The length of `text` as a Word16, then `text`. Throws Error for texts over 65535 bytes.
Bytes WordLenString(BytesView text);

// The n bytes after the first byte, where n is the first byte's value; fewer when `data` ends
// sooner. An empty argument gives an empty result.
Bytes ByteLenString(BytesView data);

}  // namespace quorvel
