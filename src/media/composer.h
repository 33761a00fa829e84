#pragma once
// Fills the tokens of a profile or away text with what the media player is playing.

#include "media/format_settings.h"
#include "media/media_player.h"
#include "wire/bytes.h"

namespace quorvel {

class Composer {
 public:
  Composer(MediaPlayer& player, const FormatSettings& settings);

  // Starts a composition: asks the player afresh (one query) and parses its track, keeping the
  // last artist, song and album when the track cannot be read. True when a player answered and
  // artist or song is known, i.e. when tokens are to be filled.
  bool Refresh();

  // The whole profile composition: Refresh(), then FillTokens(text), or FillWithoutTrack(text)
  // while the player shows no track.
  Bytes ComposeText(BytesView text);

  // The block token, then the six field tokens, replaced with the values of the last Refresh().
  Bytes FillTokens(BytesView templateText) const;

  // What a text shows while there is no track: the block token replaced by the block, then every
  // token taken out, and the lines left bare removed (see TokenFreeText).
  Bytes FillWithoutTrack(BytesView templateText) const;

  // The Replace Continued block with every CR LF replaced by "<BR>".
  Bytes BlockText() const;

  const Bytes& CurrentArtist() const { return artist_; }
  const Bytes& CurrentSong() const { return song_; }
  const Bytes& CurrentAlbum() const { return album_; }

 private:
  MediaPlayer& player_;
  const FormatSettings& settings_;
  Bytes artist_;
  Bytes song_;
  Bytes album_;
  PlayerSnapshot snapshot_;  // what the last Refresh() read
};

}  // namespace quorvel
