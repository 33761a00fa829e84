#include "media/time_text.h"

#include <algorithm>
#include <string>

namespace quorvel {

Bytes PlayStatusText(int playStatus) {
  switch (playStatus) {
    case 0:
      return "stopped";
    case 1:
      return "playing";
    case 3:
      return "paused";
    default:
      return {};
  }
}

std::int64_t ElapsedSeconds(std::int64_t elapsedMs) noexcept {
  // Floor division, so that the remainder lies in [0, 1000) for negative times as well.
  std::int64_t quotient = elapsedMs / 1000;
  std::int64_t remainder = elapsedMs % 1000;
  if (remainder < 0) {
    remainder += 1000;
    quotient -= 1;
  }
  if (remainder > 500 || (remainder == 500 && quotient % 2 != 0)) {
    quotient += 1;
  }
  return quotient;
}

Bytes TimeText(std::int64_t seconds, int units) {
  units = std::clamp(units, 1, 10);  // 60^9 still fits in 64 bits
  std::int64_t rest = std::max<std::int64_t>(seconds, 0);
  std::int64_t unit = 1;
  for (int i = 1; i < units; ++i) {
    unit *= 60;
  }
  Bytes text;
  for (; unit >= 1; unit /= 60) {
    const std::int64_t count = rest / unit;
    if (count < 10) {
      text += '0';
    }
    text += std::to_string(count);
    text += ':';
    rest -= count * unit;
  }
  text.pop_back();
  return text;
}

}  // namespace quorvel
