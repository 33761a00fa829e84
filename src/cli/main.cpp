#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "cli/command_line.h"
#include "cli/headless.h"
#include "cli/list_players.h"
#include "cli/now_playing.h"
#include "cli/second_start.h"
#include "gui/window_front_end.h"
#include "media/player_factory.h"
#include "session/open_file_limit.h"
#include "session/single_instance.h"
#include "settings/prefs_location.h"
#include "settings/prefs_store.h"
#include "wire/error.h"

int main(int argc, char* argv[]) {
  quorvel::RaiseOpenFileLimit();
  const std::unique_ptr<QCoreApplication> app = quorvel::MakeApplication(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
  const quorvel::CommandLine line = quorvel::ParseCommandLine(QCoreApplication::arguments());
  quorvel::PrefsStore prefs(quorvel::FindPrefsLocation(line.prefsPath));
  // A settings file that cannot be read stops the program before anything runs on defaults.
  if (!prefs.Check()) return 1;
  if (line.listPlayers) {
    return quorvel::RunListPlayers(line, prefs.Load());
  }
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
  // One running program per settings file: a second start hands over to the first.
  quorvel::SingleInstance instance(prefs.Path());
  if (!instance.Claim()) {
    return quorvel::AnswerSecondStart(instance, line.headless, prefs.Path());
  }
  if (line.headless) {
    return quorvel::RunHeadless(line, prefs, *player, instance);
  }
  return quorvel::RunWindow(prefs, *player, instance, line.port);
}
