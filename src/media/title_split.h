#pragma once
// Artist and song for a player that tags no artist: an untagged file, whose title is its file
// name, or an internet radio stream, whose title reads "Artist - Song".

#include <optional>

#include "media/media_player.h"
#include "wire/bytes.h"

namespace quorvel {

// What a player tells of its current track; UTF-8, any of them may be empty.
struct TrackTags {
  Bytes artist;
  Bytes title;
  Bytes album;
  Bytes url;  // where the track comes from ("file:///music/Band%20-%20Tune.ogg")
};

// The track these tags describe. With an artist, artist and title as they are. Without one, the
// title is split at its first " - " into artist and song (a title without " - " is the song);
// before that, a title that is the file name of a file URL loses its extension. Nothing when
// neither artist nor song is left.
std::optional<Track> TrackFromTags(const TrackTags& tags);

// The last path segment of a "file:" URL, percent-decoded; empty for any other URL.
Bytes FileNameOfUrl(BytesView url);

// `name` without a final extension: a dot and 1 to 4 ASCII letters or digits, with something
// before the dot.
BytesView WithoutExtension(BytesView name);

}  // namespace quorvel
