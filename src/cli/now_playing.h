#pragma once
// `quorvel --now-playing [TEMPLATE]`: shows how a profile would be filled right now, and which
// player was found, so that users can check their set-up.

#include <ostream>

#include "cli/command_line.h"
#include "media/format_settings.h"
#include "media/media_player.h"
#include "settings/preferences.h"
#include "wire/bytes.h"

namespace quorvel {

inline constexpr char kDefaultNowPlayingTemplate[] = ":: %a - %s :: %p %t / %x";

// Composes `templateText` exactly as a profile is composed and prints the player found and the
// result to `out`. Returns 0, or 1 with a message on `err` when no player was found.
int PrintNowPlaying(MediaPlayer& player, const FormatSettings& settings, BytesView templateText,
                    std::ostream& out, std::ostream& err);

// The command: `player` with the player's choice of `prefs`, the Replace settings of `prefs`, the
// template of the command line (or the default one), printed to standard output. Returns the
// exit status.
int RunNowPlaying(const CommandLine& line, const Preferences& prefs, MediaPlayer& player);

}  // namespace quorvel
