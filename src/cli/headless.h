#pragma once
// `quorvel --headless`: the relay with the traffic monitor as its host, the settings of prefs.ini,
// the update timer, and every event-log change and title change printed on standard output.

#include "cli/command_line.h"
#include "media/media_player.h"
#include "settings/prefs_store.h"

namespace quorvel {

// Runs until SIGINT or SIGTERM (status 0), whose closing sequence saves the settings to `store`,
// or until listening fails (status 1). Needs a QCoreApplication.
int RunHeadless(const CommandLine& line, PrefsStore& store, MediaPlayer& player);

}  // namespace quorvel
