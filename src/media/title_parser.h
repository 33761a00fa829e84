#pragma once
// Reading artist and song out of the player window's title, which has the form
//   <track number>. <artist> - <song> - Winamp[ more text, e.g. a state in brackets]

#include <optional>

#include "media/media_player.h"
#include "wire/bytes.h"

namespace quorvel {

// The artist and song of `title` (UTF-8), or nothing when the title has another form. The track
// number must be a whole number in the signed 32-bit range; its value is not used. A title whose
// text holds "TV: " gives the artist "TV" and the rest as the song.
std::optional<Track> ParseTitle(BytesView title);

}  // namespace quorvel
