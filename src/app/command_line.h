#pragma once
// The program's command line, parsed with Qt's usual conventions.

#include <QString>
#include <QStringList>

namespace quorvel {

struct CommandLine {
  bool headless = false;
  QString prefsPath;  // --prefs FILE: the settings file to use instead of the usual prefs.ini
};

// Parses `arguments` (argv as Qt sees it). Handles --help and --version itself by printing and
// exiting, as QCommandLineParser does; an unknown option prints the error and exits with status 1.
CommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace quorvel
