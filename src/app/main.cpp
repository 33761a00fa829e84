#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "app/command_line.h"
#include "app/fd_limit.h"
#include "app/headless_monitor.h"
#include "app/now_playing.h"
#include "app/prefs_location.h"
#include "app/prefs_store.h"
#include "app/window_main.h"
#include "media/player_factory.h"
#include "wire/error.h"

int main(int argc, char* argv[]) {
  quorvel::RaiseOpenFileLimit();
  const std::unique_ptr<QCoreApplication> app = quorvel::MakeApplication(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
  const quorvel::CommandLine line = quorvel::ParseCommandLine(QCoreApplication::arguments());
  quorvel::PrefsStore prefs(quorvel::PrefsPath(line.prefsPath));
  std::unique_ptr<quorvel::MediaPlayer> player;
  try {
    player = quorvel::MakeMediaPlayer(line.player.toStdString());
  } catch (const quorvel::Error& error) {
    std::fprintf(stderr, "quorvel: %s\n", error.what());
    return 1;
  }
  if (line.nowPlaying) {
    return quorvel::RunNowPlaying(line, prefs.Load(), *player);
  }
  if (line.headless) {
    return quorvel::RunHeadlessMonitor(line, prefs, *player);
  }
  return quorvel::RunWindow(prefs, *player);
}
