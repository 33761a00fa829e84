#pragma once
// Helpers for writing byte strings in tests as hex text.

#include <string>

#include "wire/bytes.h"
#include "wire/hex.h"

namespace quorvel::testing {

// "2A 02" -> the two bytes; "" -> no bytes.
inline Bytes Hex(const std::string& text) {
  return text.empty() ? Bytes() : HexToBytes(text);
}

// The bytes as upper-case hex text separated by spaces, for readable failure messages.
inline std::string ToHex(BytesView data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : data) {
    const auto c = static_cast<unsigned char>(ch);
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

}  // namespace quorvel::testing
