#include "media/title_parser.h"

#include <cstdint>
#include <limits>

#include "media/utf8_text.h"

namespace quorvel {

namespace {

constexpr BytesView kTail = " - Winamp";

// An optional sign and at least one decimal digit, nothing else, within the signed 32-bit range.
bool IsWholeNumber32(BytesView text) {
  std::size_t pos = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    pos = 1;
  }
  if (pos == text.size()) {
    return false;
  }
  const std::int64_t limit = negative
                                 ? -static_cast<std::int64_t>(std::numeric_limits<int32_t>::min())
                                 : std::numeric_limits<int32_t>::max();
  std::int64_t value = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + (c - '0');
    if (value > limit) {
      return false;
    }
  }
  return true;
}

bool EndsWith(BytesView text, BytesView end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

std::optional<Track> ParseTitle(BytesView title) {
  // Positions are counted in characters. Every text searched for is ASCII, and an ASCII byte is
  // always a character of its own, so a byte offset found by searching is a character boundary.
  const std::size_t tailByte = title.find(kTail);
  if (tailByte == BytesView::npos) {
    return std::nullopt;
  }
  const std::size_t tailIndex = CharCount(title.substr(0, tailByte));  // 0-based
  if (tailIndex < 3) {
    return std::nullopt;  // " - Winamp" at character 1 to 3
  }
  const std::size_t dot = title.find('.');
  if (dot == BytesView::npos || !IsWholeNumber32(title.substr(0, dot))) {
    return std::nullopt;
  }
  // The number before the dot is ASCII, so `dot` counts characters too. The cut skips the dot and
  // the character after it, and is as long as the part before " - Winamp" less four characters:
  // exact for a one-digit number; longer numbers run into " - Winamp", trimmed back below.
  BytesView cut = FirstChars(SkipChars(title, dot + 2), tailIndex - 3);
  if (EndsWith(cut, " ")) {
    cut.remove_suffix(1);
  }

  Track track;
  BytesView song;
  if (cut.find("TV: ") != BytesView::npos) {
    track.artist = "TV";
    song = cut.substr(cut.find(": ") + 2);
  } else {
    const std::size_t sep = cut.find(" -");
    if (sep == BytesView::npos) {
      return std::nullopt;
    }
    track.artist = Bytes(cut.substr(0, sep));
    const std::size_t dash = cut.find("- ");
    // Without "- " the song is everything after the first character.
    song = dash == BytesView::npos ? SkipChars(cut, 1) : cut.substr(dash + 2);
  }
  if (EndsWith(song, " -")) {
    song.remove_suffix(2);
  }
  track.song = Bytes(song);
  return track;
}

}  // namespace quorvel
