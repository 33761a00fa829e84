#pragma once
// `quorvel --headless`: the relay with the traffic monitor as its host, the settings of prefs.ini,
// the update timer, and every event-log change and title change printed on standard output.

#include "cli/command_line.h"
#include "media/media_player.h"
#include "session/single_instance.h"
#include "settings/prefs_store.h"

namespace quorvel {

// Runs until SIGINT or SIGTERM, whose closing sequence saves the settings to `store` (status 0,
// or 1 when they could not be saved), or until listening fails (status 1, said on standard
// error). `instance`, claimed for the settings file, tells later starts the port. Needs a
// QCoreApplication.
int RunHeadless(const CommandLine& line, PrefsStore& store, MediaPlayer& player,
                SingleInstance& instance);

}  // namespace quorvel
