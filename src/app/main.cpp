#include <QCoreApplication>
#include <memory>

#include "app/command_line.h"
#include "app/fd_limit.h"
#include "app/headless_monitor.h"
#include "app/now_playing.h"
#include "app/prefs_location.h"
#include "app/prefs_store.h"
#include "app/window_main.h"

int main(int argc, char* argv[]) {
  quorvel::RaiseOpenFileLimit();
  const std::unique_ptr<QCoreApplication> app = quorvel::MakeApplication(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
  const quorvel::CommandLine line = quorvel::ParseCommandLine(QCoreApplication::arguments());
  quorvel::PrefsStore prefs(quorvel::PrefsPath(line.prefsPath));
  if (line.nowPlaying) {
    return quorvel::RunNowPlaying(line, prefs.Load());
  }
  if (line.headless) {
    return quorvel::RunHeadlessMonitor(line, prefs);
  }
  return quorvel::RunWindow(line);
}
