#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace quorvel {

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("A SOCKS4 proxy for OSCAR instant-messaging clients that puts what your "
                     "media player is playing into your profile and away message."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.process(arguments);

  CommandLine line;
  return line;
}

}  // namespace quorvel
