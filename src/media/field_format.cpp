#include "media/field_format.h"

#include <algorithm>

#include "media/utf8_text.h"
#include "wire/replace.h"

namespace quorvel {

std::int16_t ParseFieldLength(BytesView text) noexcept {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return 0;
  }
  std::int32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return 0;
    }
    value = value * 10 + (c - '0');
    if (value > 32768) {
      return 0;
    }
  }
  if (negative) {
    value = -value;
  }
  if (value > 32767) {
    return 0;
  }
  return static_cast<std::int16_t>(value);
}

Bytes ReplaceWithin(BytesView text, BytesView from, BytesView to, std::size_t maxBytes) {
  if (from.empty()) {
    return Bytes(text);
  }
  if (to.size() > from.size()) {
    // Count first, so that an oversized result is never built.
    std::size_t count = 0;
    for (std::size_t hit = text.find(from); hit != BytesView::npos;
         hit = text.find(from, hit + from.size())) {
      ++count;
    }
    const std::size_t growth = to.size() - from.size();
    if (count > 0 && (count > (maxBytes - std::min(maxBytes, text.size())) / growth)) {
      return Bytes(text);
    }
  }
  return ReplaceAll(text, from, to);
}

Bytes BufferValue(BytesView value, bool bufferOn, BytesView bufferText) {
  if (!bufferOn) {
    return Bytes(value);
  }
  return ReplaceWithin(bufferText, "var", value);
}

Bytes FitField(BytesView value, int length, BytesView justification, BytesView padText,
               bool limitOnly) {
  if (length < 1) {
    return Bytes(value);
  }
  const auto wanted = static_cast<std::size_t>(length);
  const std::size_t have = CharCount(value);
  if (have >= wanted) {
    return Bytes(FirstChars(value, wanted));
  }
  if (limitOnly) {
    return Bytes(value);
  }

  // An even pad text gives its two halves in turn, starting with the right one; an odd pad text is
  // used whole every time.
  const std::size_t padChars = CharCount(padText);
  const BytesView leftHalf = FirstChars(padText, padChars / 2);
  const BytesView rightHalf = padText.substr(leftHalf.size());
  const bool even = padChars % 2 == 0;
  const bool center = justification == "Center";

  Bytes left;
  Bytes right;
  bool appendRight = justification != "Right";
  bool useRightHalf = true;
  std::size_t size = value.size();
  for (std::size_t piece = have; piece < wanted; ++piece) {
    const BytesView text = !even ? padText : (useRightHalf ? rightHalf : leftHalf);
    if (text.size() > kMaxComposedBytes - size) {
      break;
    }
    size += text.size();
    if (appendRight) {
      right += text;
    } else {
      // Pieces put before the value are collected in reverse and turned round at the end.
      left.append(text.rbegin(), text.rend());
    }
    if (center) {
      appendRight = !appendRight;
    }
    useRightHalf = !useRightHalf;
  }
  Bytes out(left.rbegin(), left.rend());
  out += value;
  out += right;
  return out;
}

}  // namespace quorvel
