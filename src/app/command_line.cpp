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
  const QCommandLineOption prefsOption(QStringLiteral("prefs"),
                                       QStringLiteral("Read and save the settings in <file>."),
                                       QStringLiteral("file"));
  parser.addOption(prefsOption);
  parser.process(arguments);

  CommandLine line;
  line.prefsPath = parser.value(prefsOption);
  return line;
}

}  // namespace quorvel
