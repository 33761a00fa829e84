#pragma once
// The program's command line, parsed with Qt's usual conventions.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace quorvel {

struct CommandLine {
  bool headless = false;
  bool nowPlaying = false;     // --now-playing: print the filled template and exit
  bool listPlayers = false;    // --list-players: print the media players present and exit
  QString nowPlayingTemplate;  // its TEMPLATE argument; null when none was given
  QString player;              // --player NAME: the media player backend or MPRIS player name
  QString prefsPath;  // --prefs FILE: the settings file to use instead of the usual prefs.ini
  // --port N: listen on N for this run only.
  std::optional<std::uint16_t> port;
};

// Parses `arguments` (argv as Qt sees it). Handles --help and --version itself by printing and
// exiting, as QCommandLineParser does; an unknown option prints the error and exits with status 1.
CommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace quorvel
