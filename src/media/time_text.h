#pragma once
// The player's status and times as the texts that fill their tokens.

#include <cstdint>

#include "wire/bytes.h"

namespace quorvel {

// "playing" (1), "paused" (3), "stopped" (0); empty text for any other code.
Bytes PlayStatusText(int playStatus);

// Milliseconds to whole seconds, rounded to the nearest, halves to the even second
// (1500 -> 2, 2500 -> 2, 2501 -> 3).
std::int64_t ElapsedSeconds(std::int64_t elapsedMs) noexcept;

// `seconds` as `units` two-digit groups separated by colons, the largest unbounded:
// (3725, 2) -> "62:05", (65, 2) -> "01:05", (3725, 3) -> "01:02:05". Times are shown whole however
// long they are. A negative time (a player that does not know the length) shows as zero. `units`
// is taken within 1 to 10.
Bytes TimeText(std::int64_t seconds, int units = 2);

}  // namespace quorvel
