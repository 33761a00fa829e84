#include <QCoreApplication>
#include <memory>

#include "app/command_line.h"
#include "app/fd_limit.h"
#include "app/headless_monitor.h"
#include "app/now_playing.h"
#include "app/window_main.h"

int main(int argc, char* argv[]) {
  quorvel::RaiseOpenFileLimit();
  const std::unique_ptr<QCoreApplication> app = quorvel::MakeApplication(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
  const quorvel::CommandLine line = quorvel::ParseCommandLine(QCoreApplication::arguments());
  if (line.nowPlaying) {
    return quorvel::RunNowPlaying(line, quorvel::Preferences{});
  }
  if (line.headless) {
    return quorvel::RunHeadlessMonitor(line);
  }
  return quorvel::RunWindow(line);
}
