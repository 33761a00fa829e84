#pragma once
// The program's command line, parsed with Qt's usual conventions.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace quorvel {

struct CommandLine {
  bool headless = false;
  // --port N: listen on N for this run only.
  std::optional<std::uint16_t> port;
};

// Parses `arguments` (argv as Qt sees it). Handles --help and --version itself by printing and
// exiting, as QCommandLineParser does; an unknown option prints the error and exits with status 1.
CommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace quorvel
