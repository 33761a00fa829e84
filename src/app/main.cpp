#include <QCoreApplication>

#include "app/command_line.h"
#include "app/now_playing.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
  const quorvel::CommandLine line = quorvel::ParseCommandLine(QCoreApplication::arguments());
  if (line.nowPlaying) {
    return quorvel::RunNowPlaying(line, quorvel::Preferences{});
  }
  return 0;
}
