#pragma once
// The composition settings read from a Preferences value, afresh at each use: the window's
// settings as its controls hold them, or those loaded for the headless front end and
// --now-playing.

#include "media/format_settings.h"
#include "media/media_player.h"
#include "settings/preferences.h"

namespace quorvel {

class PreferencesSettings : public FormatSettings, public UpdateSettings {
 public:
  explicit PreferencesSettings(const Preferences& prefs) : prefs_(prefs) {}

  FieldFormat Field(MediaField field) const override;
  bool LimitOnly() const override { return prefs_.limitOnly == 1; }
  bool BufferOn() const override { return prefs_.bufferOn == 1; }
  Bytes BufferText() const override { return prefs_.bufferText; }
  Bytes BlockToken() const override { return prefs_.blockToken; }
  Bytes Block() const override { return prefs_.block; }

  bool Enabled() const override { return prefs_.enabled == 1; }
  bool ProfileUpdates() const override { return prefs_.profileUpdates == 1; }
  bool AwayUpdates() const override { return prefs_.awayUpdates == 1; }
  bool AwayUsesBlock() const override { return !prefs_.awayUsesOwnMessage; }
  bool SendOnChange() const override { return prefs_.sendOnChange; }

 private:
  const Preferences& prefs_;
};

// The media player's choice that `prefs` stores: the preferred name without the blanks around it
// (the first name, should several be typed), and the names of the ignore list.
PlayerChoice PlayerChoiceOf(const Preferences& prefs);

}  // namespace quorvel
