#pragma once
// `quorvel --headless`: the relay with the traffic monitor as its host, the settings of prefs.ini,
// the update timer, and every event-log change and title change printed on standard output.

#include "cli/command_line.h"
#include "settings/prefs_store.h"
#include "media/media_player.h"

namespace quorvel {

// Runs until SIGINT or SIGTERM, whose closing sequence saves the settings to `store`; returns the
// exit status.
int RunHeadlessMonitor(const CommandLine& line, PrefsStore& store, MediaPlayer& player);

}  // namespace quorvel
