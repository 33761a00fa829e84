#include "monitor/one_line_text.h"

#include <cstdint>

#include "media/utf8_text.h"

namespace quorvel {
namespace {

void AppendEscaped(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (const char ch : bytes) {
    const auto c = static_cast<std::uint8_t>(ch);
    out += "\\x";
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
}

// Whether the well-formed character `c` (its UTF-8 bytes) breaks or steers a line.
bool IsLineControl(std::string_view c) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(c[i]); };
  switch (c.size()) {
    case 1:
      return byte(0) < 0x20 || byte(0) == 0x7F;
    case 2:
      return byte(0) == 0xC2 && byte(1) <= 0x9F;  // U+0080 .. U+009F
    case 3:
      return byte(0) == 0xE2 && byte(1) == 0x80 && (byte(2) == 0xA8 || byte(2) == 0xA9);
    default:
      return false;
  }
}

}  // namespace

std::string OneLineText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = CharLengthAt(text, pos);
    const std::string_view c = text.substr(pos, length);
    if (IsLineControl(c) || (length == 1 && ByteAt(text, pos) >= 0x80)) {
      AppendEscaped(out, c);
    } else {
      out += c;
    }
    pos += length;
  }
  return out;
}

}  // namespace quorvel
