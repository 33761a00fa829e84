#pragma once
// The media player, as composition sees it. Backends: MPRIS on the D-Bus session bus (Linux),
// Winamp's window (Windows), none, and fakes for tests.

#include <cstdint>
#include <optional>
#include <string>

#include "wire/bytes.h"

namespace quorvel {

// Play status codes, as the player reports them.
inline constexpr int kPlayStopped = 0;
inline constexpr int kPlayPlaying = 1;
inline constexpr int kPlayPaused = 3;

struct Track {
  Bytes artist;  // UTF-8
  Bytes song;    // UTF-8
};

// Everything one composition needs, read in one query.
struct PlayerSnapshot {
  bool found = false;             // a player answered
  std::optional<Track> track;     // nothing when the current track cannot be read
  int playStatus = -1;            // kPlay* or any other code (shown as empty text)
  std::int64_t elapsedMs = 0;     // position in the current track
  std::int64_t totalSeconds = 0;  // length of the current track
};

class MediaPlayer {
 public:
  virtual ~MediaPlayer() = default;
  // Looks the player up afresh and reads it. Never blocks for long: a player that does not answer
  // in time counts as not found.
  virtual PlayerSnapshot Query() = 0;
  // A short description of the player found by the last Query() ("MPRIS: vlc"), for the user.
  virtual std::string Describe() const = 0;
};

}  // namespace quorvel
