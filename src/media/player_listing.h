#pragma once
// The players present, one line each, as the user reads them.

#include "media/media_player.h"
#include "wire/bytes.h"

namespace quorvel {

// One line (without its line break) for `player`: a mark when it is the one read, its short
// name, its identity, its play state and what it plays:
//   "* vlc (VLC media player): playing, Band – Tune"
//   "  spotify: stopped"
//   "  hung: no answer"
// Control characters that a player's texts may hold (line breaks, terminal escapes) are shown as
// spaces, so that one player always makes one harmless line.
Bytes PlayerListLine(const PlayerInfo& player, bool chosen);

}  // namespace quorvel
