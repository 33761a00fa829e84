#include "cli/now_playing.h"

#include <iostream>
#include <memory>

#include "media/composer.h"
#include "settings/preferences_settings.h"

namespace quorvel {

namespace {

// Passes queries through and remembers whether the last one found a player.
class WatchedPlayer final : public MediaPlayer {
 public:
  explicit WatchedPlayer(MediaPlayer& inner) : inner_(inner) {}
  PlayerSnapshot Query() override {
    PlayerSnapshot snapshot = inner_.Query();
    found = snapshot.found;
    return snapshot;
  }
  std::string Describe() const override { return inner_.Describe(); }
  bool found = false;

 private:
  MediaPlayer& inner_;
};

}  // namespace

int PrintNowPlaying(MediaPlayer& player, const FormatSettings& settings, BytesView templateText,
                    std::ostream& out, std::ostream& err) {
  WatchedPlayer watched(player);
  Composer composer(watched, settings);
  const Bytes text = composer.ComposeText(templateText);
  if (!watched.found) {
    err << "quorvel: no media player found (" << watched.Describe() << ")\n";
    return 1;
  }
  out << "Player: " << watched.Describe() << '\n' << text << '\n';
  if (composer.CurrentArtist().empty() && composer.CurrentSong().empty()) {
    err << "quorvel: the player shows no artist or song, so the tokens are left out\n";
  }
  out.flush();
  return 0;
}

int RunNowPlaying(const CommandLine& line, const Preferences& prefs, MediaPlayer& player) {
  player.SetChoice(PlayerChoiceOf(prefs));
  const PreferencesSettings settings(prefs);
  const Bytes templateText = line.nowPlayingTemplate.isNull()
                                 ? Bytes(kDefaultNowPlayingTemplate)
                                 : line.nowPlayingTemplate.toStdString();
  return PrintNowPlaying(player, settings, templateText, std::cout, std::cerr);
}

}  // namespace quorvel
