#include "cli/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace quorvel {

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("A SOCKS4 proxy for OSCAR instant-messaging clients that puts what your "
                     "media player is playing into your profile and away message."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption nowPlaying(
      QStringLiteral("now-playing"),
      QStringLiteral("Print TEMPLATE (default \":: %a - %s :: %p %t / %x\") filled with what the "
                     "media player plays, as a profile would be, and exit."));
  const QCommandLineOption player(
      QStringLiteral("player"),
      QStringLiteral("The media player for this run: none, winamp, mpris (any MPRIS player, as "
                     "the settings choose), or the name of an MPRIS player (vlc, spotify, ...)."),
      QStringLiteral("NAME"));
  const QCommandLineOption listPlayers(
      QStringLiteral("list-players"),
      QStringLiteral("Print the MPRIS media players present, one a line, the one read marked with "
                     "*, and exit."));
  parser.addOption(nowPlaying);
  parser.addOption(listPlayers);
  parser.addOption(player);
  parser.addPositionalArgument(QStringLiteral("template"),
                               QStringLiteral("The text to fill, with --now-playing."),
                               QStringLiteral("[TEMPLATE]"));
  const QCommandLineOption prefsOption(QStringLiteral("prefs"),
                                       QStringLiteral("Read and save the settings in <file>."),
                                       QStringLiteral("file"));
  parser.addOption(prefsOption);
  const QCommandLineOption headless(QStringLiteral("headless"),
                                    QStringLiteral("Run without a window; print events."));
  const QCommandLineOption port(QStringLiteral("port"),
                                QStringLiteral("Listen on port N for this run only."),
                                QStringLiteral("N"));
  parser.addOption(headless);
  parser.addOption(port);
  parser.process(arguments);

  CommandLine line;
  line.nowPlaying = parser.isSet(nowPlaying);
  line.listPlayers = parser.isSet(listPlayers);
  line.prefsPath = parser.value(prefsOption);
  line.player = parser.value(player);
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > (line.nowPlaying ? 1 : 0)) {
    std::fprintf(stderr, "%s: unexpected argument \"%s\"\n",
                 qPrintable(QCoreApplication::applicationName()), qPrintable(positional.last()));
    std::exit(1);
  }
  if (!positional.isEmpty()) {
    line.nowPlayingTemplate = positional.first();
  }
  line.headless = parser.isSet(headless);
  if (parser.isSet(port)) {
    bool ok = false;
    const uint value = parser.value(port).toUInt(&ok);
    if (!ok || value > 65535) {
      std::fprintf(stderr, "Not a port number: %s\n", qPrintable(parser.value(port)));
      std::exit(1);
    }
    line.port = static_cast<std::uint16_t>(value);
  }
  return line;
}

}  // namespace quorvel
