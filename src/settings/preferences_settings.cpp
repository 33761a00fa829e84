#include "settings/preferences_settings.h"

#include "media/player_choice.h"

namespace quorvel {

FieldFormat PreferencesSettings::Field(MediaField field) const {
  const FieldPrefs& f = prefs_.Field(field);
  return FieldFormat{f.token, f.caseIndex, f.length, f.pad, f.justification};
}

PlayerChoice PlayerChoiceOf(const Preferences& prefs) {
  // A player's name holds no comma or blank, so the list rules trim the preferred name too.
  const std::vector<std::string> preferred = ParsePlayerNames(prefs.player);
  return PlayerChoice{preferred.empty() ? std::string() : preferred.front(),
                      ParsePlayerNames(prefs.ignorePlayers)};
}

}  // namespace quorvel
