#pragma once
// The media player, as composition sees it. Backends: MPRIS on the D-Bus session bus (Linux),
// Winamp's window (Windows), none, and fakes for tests.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "wire/bytes.h"

namespace quorvel {

// Play status codes, as the player reports them.
inline constexpr int kPlayStopped = 0;
inline constexpr int kPlayPlaying = 1;
inline constexpr int kPlayPaused = 3;

struct Track {
  Bytes artist;      // UTF-8
  Bytes song;        // UTF-8
  Bytes album = {};  // UTF-8; empty when the player names none
};

// Everything one composition needs, read in one query.
struct PlayerSnapshot {
  bool found = false;             // a player answered
  std::optional<Track> track;     // nothing when the current track cannot be read
  int playStatus = -1;            // kPlay* or any other code (shown as empty text)
  std::int64_t elapsedMs = 0;     // position in the current track
  std::int64_t totalSeconds = 0;  // length of the current track
};

// Which of several players to read. Names are matched as PlayerNameMatches() says.
struct PlayerChoice {
  std::string preferred;             // read whenever present; empty: chosen automatically
  std::vector<std::string> ignored;  // never read
};

// One player present, as a listing shows it.
struct PlayerInfo {
  std::string busName;   // "org.mpris.MediaPlayer2.vlc.instance7", or the backend's own name
  std::string identity;  // the player's name for people ("VLC media player"); may be empty
  PlayerSnapshot state;  // `found` false: the player did not answer in time
};

struct PlayerList {
  std::vector<PlayerInfo> players;    // ordered by bus name
  std::optional<std::size_t> chosen;  // the one that Query() reads under the current choice
  std::string error;                  // why the players could not be listed; empty when they were
};

// What a backend that watches its players tells the rest of the program, from the event loop of
// the thread that made it. Either function may be empty. Bursts are folded into one call.
struct PlayerWatch {
  std::function<void()> playersChanged;   // a player came or left: lists and the choice are stale
  std::function<void()> playbackChanged;  // the chosen player changed its track or play state
};

class MediaPlayer {
 public:
  virtual ~MediaPlayer() = default;
  // Looks the player up afresh and reads it. Never blocks for long: a player that does not answer
  // in time counts as not found.
  virtual PlayerSnapshot Query() = 0;
  // A short description of the player found by the last Query() ("MPRIS: vlc"), for the user.
  virtual std::string Describe() const = 0;

  // The preferred player and the ignore list from the settings; takes effect at the next Query().
  // Backends that know a single player have nothing to choose.
  virtual void SetChoice(const PlayerChoice&) {}
  // Every player present, read afresh (bounded by the same timeout as Query()).
  virtual PlayerList ListPlayers() { return {}; }
  // Starts telling of changes through `watch`, replacing what an earlier call set; a watch with
  // both functions empty stops it. Backends that cannot watch say nothing: the timer still runs.
  // A callback may query the player, but must neither destroy it nor call Watch().
  virtual void Watch(PlayerWatch) {}
};

}  // namespace quorvel
