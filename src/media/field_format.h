#pragma once
// Formatting one media value: the buffer text around it, then its length and justification.

#include <cstddef>
#include <cstdint>

#include "wire/bytes.h"

namespace quorvel {

// The most bytes that formatting lets a value or a composed text grow to. An OSCAR TLV carries at
// most 65535 bytes, so nothing larger can be sent; the bound keeps absurd settings (a long pad
// text repeated thousands of times, tokens inside values) from eating the memory.
inline constexpr std::size_t kMaxComposedBytes = std::size_t{1} << 20;

// The length box's text as a signed 16-bit number: an optional sign and decimal digits, with
// spaces around them allowed. Any other text (empty, not a number, out of range) gives 0, which
// leaves values as they are.
std::int16_t ParseFieldLength(BytesView text) noexcept;

// Every occurrence of `from` in `text` replaced by `to` (as ReplaceAll), unless the result would
// grow past `maxBytes`: then `text` is returned unchanged.
Bytes ReplaceWithin(BytesView text, BytesView from, BytesView to,
                    std::size_t maxBytes = kMaxComposedBytes);

// With `bufferOn`, `bufferText` with every "var" replaced by `value`; otherwise `value`.
Bytes BufferValue(BytesView value, bool bufferOn, BytesView bufferText);

// `value` cut to `length` characters, or padded to it with pieces of `padText` (one piece per
// missing character) placed by `justification` ("Right", "Center", anything else pads on the
// right). A length below 1 leaves the value unchanged; with `limitOnly` a value is never padded.
// Characters are counted in UTF-8, and a cut never falls inside one. Padding stops before the
// value would grow past kMaxComposedBytes.
Bytes FitField(BytesView value, int length, BytesView justification, BytesView padText,
               bool limitOnly);

}  // namespace quorvel
