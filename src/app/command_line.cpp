#include "app/command_line.h"

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
  const QCommandLineOption headless(QStringLiteral("headless"),
                                    QStringLiteral("Run without a window; print events."));
  const QCommandLineOption port(QStringLiteral("port"),
                                QStringLiteral("Listen on port N for this run only."),
                                QStringLiteral("N"));
  parser.addOption(headless);
  parser.addOption(port);
  parser.process(arguments);

  CommandLine line;
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
