#pragma once
// The media player backend chosen by name.

#include <memory>
#include <string>
#include <string_view>

#include "media/media_player.h"

namespace quorvel {

struct PlayerOptions {
  // The backend, as the command line names it for one run (see MakeMediaPlayer(choice) below);
  // a player's name here overrides `choice`.
  std::string backend;
  // The preferred player and the ignore list from the settings.
  PlayerChoice choice;
};

// The backend that `options` names. Throws Error for a backend that this build does not have.
std::unique_ptr<MediaPlayer> MakeMediaPlayer(const PlayerOptions& options);

// The MPRIS players on the session bus, for listing them, whatever backend `options.backend`
// names: "none" and "winamp" list them all the same. Throws Error where this build has no MPRIS.
std::unique_ptr<MediaPlayer> MakePlayerLister(const PlayerOptions& options);

// `choice`:
//   ""             the platform's own: MPRIS on the session bus, or Winamp on Windows
//   "none"         no player: tokens are left out
//   "winamp"       Winamp's window (Windows only)
//   "mpris"        any MPRIS player on the session bus, one that is playing preferred
//   "mpris:NAME"   the MPRIS player NAME (org.mpris.MediaPlayer2.NAME or one of its instances)
//   "NAME"         any other word: the same as "mpris:NAME"
// Throws Error for a backend that this build does not have.
std::unique_ptr<MediaPlayer> MakeMediaPlayer(std::string_view choice);

}  // namespace quorvel
