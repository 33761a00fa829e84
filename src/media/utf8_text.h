#pragma once
// Character-wise views of UTF-8 text. A character is one well-formed UTF-8 sequence; a byte that
// does not start one (a stray continuation byte, a truncated or overlong sequence, a surrogate)
// counts as one character of its own, so text of any bytes can be measured and cut without ever
// splitting a well-formed character.

#include <cstddef>

#include "wire/bytes.h"

namespace quorvel {

// The byte length (1 to 4) of the character that starts at byte `pos` (< text.size()).
std::size_t CharLengthAt(BytesView text, std::size_t pos) noexcept;

// The number of characters in `text`.
std::size_t CharCount(BytesView text) noexcept;

// The first `count` characters of `text` (all of it when it has fewer).
BytesView FirstChars(BytesView text, std::size_t count) noexcept;

// `text` without its first `count` characters (empty when it has no more).
BytesView SkipChars(BytesView text, std::size_t count) noexcept;

}  // namespace quorvel
