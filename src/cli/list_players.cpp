#include "cli/list_players.h"

#include <iostream>
#include <memory>

#include "media/player_factory.h"
#include "media/player_listing.h"
#include "settings/preferences_settings.h"
#include "wire/error.h"

namespace quorvel {

int PrintPlayerList(MediaPlayer& lister, std::ostream& out, std::ostream& err) {
  const PlayerList list = lister.ListPlayers();
  if (!list.error.empty()) {
    err << "quorvel: " << list.error << '\n';
    return 1;
  }
  if (list.players.empty()) {
    err << "quorvel: no MPRIS media player on the session bus\n";
    return 0;
  }
  for (std::size_t i = 0; i < list.players.size(); ++i) {
    out << PlayerListLine(list.players[i], list.chosen == i) << '\n';
  }
  out.flush();
  return 0;
}

int RunListPlayers(const CommandLine& line, const Preferences& prefs) {
  std::unique_ptr<MediaPlayer> lister;
  try {
    lister = MakePlayerLister(PlayerOptions{line.player.toStdString(), PlayerChoiceOf(prefs)});
  } catch (const Error& error) {
    std::cerr << "quorvel: " << error.what() << '\n';
    return 1;
  }
  return PrintPlayerList(*lister, std::cout, std::cerr);
}

}  // namespace quorvel
