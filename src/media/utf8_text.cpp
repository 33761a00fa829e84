#include "media/utf8_text.h"

#include <cstdint>

namespace quorvel {

namespace {

bool IsContinuation(std::uint8_t byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

std::size_t CharLengthAt(BytesView text, std::size_t pos) noexcept {
  const std::uint8_t lead = ByteAt(text, pos);
  std::size_t length = 0;
  std::uint8_t low = 0x80;   // the allowed range of the second byte, which rules out overlong
  std::uint8_t high = 0xBF;  // forms, surrogates and code points beyond U+10FFFF
  if (lead < 0x80) {
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 1;
  }
  if (text.size() - pos < length) {
    return 1;
  }
  const std::uint8_t second = ByteAt(text, pos + 1);
  if (second < low || second > high) {
    return 1;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (!IsContinuation(ByteAt(text, pos + i))) {
      return 1;
    }
  }
  return length;
}

std::size_t CharCount(BytesView text) noexcept {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < text.size(); pos += CharLengthAt(text, pos)) {
    ++count;
  }
  return count;
}

BytesView FirstChars(BytesView text, std::size_t count) noexcept {
  std::size_t pos = 0;
  for (; pos < text.size() && count > 0; --count) {
    pos += CharLengthAt(text, pos);
  }
  return text.substr(0, pos);
}

BytesView SkipChars(BytesView text, std::size_t count) noexcept {
  return text.substr(FirstChars(text, count).size());
}

}  // namespace quorvel
