#pragma once
// `quorvel --list-players`: the MPRIS media players present, one a line, so that users can see
// which players there are and which one the program reads.

#include <ostream>

#include "cli/command_line.h"
#include "media/media_player.h"
#include "settings/preferences.h"

namespace quorvel {

// Prints one line per player that `lister` finds (PlayerListLine), the one it reads marked.
// Returns 0, also when there is none (said on `err`), or 1 with a message on `err` when the
// players could not be listed.
int PrintPlayerList(MediaPlayer& lister, std::ostream& out, std::ostream& err);

// The command: the players on the session bus, the one read marked as the player's choice of
// `prefs` and the command line's --player pick it. Returns the exit status.
int RunListPlayers(const CommandLine& line, const Preferences& prefs);

}  // namespace quorvel
