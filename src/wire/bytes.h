#pragma once
// Byte strings: every piece of wire data, and every text placed into a packet, is held as raw
// 8-bit bytes in a std::string and sliced through std::string_view.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

using Bytes = std::string;
using BytesView = std::string_view;

// The bytes of `data` from 0-based offset `start`, at most `count` of them. A slice that runs past
// the end yields only the bytes that exist (possibly none); it is never an error.
constexpr BytesView Slice(BytesView data, std::size_t start,
                          std::size_t count = BytesView::npos) noexcept {
  if (start >= data.size()) {
    return {};
  }
  return data.substr(start, count);
}

// The unsigned value of the byte at 0-based offset `pos`; callers check the size first.
constexpr std::uint8_t ByteAt(BytesView data, std::size_t pos) noexcept {
  return static_cast<std::uint8_t>(data[pos]);
}

}  // namespace quorvel
