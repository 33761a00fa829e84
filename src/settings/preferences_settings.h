#pragma once
// The composition settings read from a Preferences value, afresh at each use: the window's
// settings as its controls hold them, or those loaded for the headless front end and
// --now-playing.

#include "media/format_settings.h"
#include "settings/preferences.h"

namespace quorvel {

class PreferencesSettings : public FormatSettings, public UpdateSettings {
 public:
  explicit PreferencesSettings(const Preferences& prefs) : prefs_(prefs) {}

  FieldFormat Field(MediaField field) const override;
  bool LimitOnly() const override { return prefs_.limit == 1; }
  bool BufferOn() const override { return prefs_.repBufferCheck == 1; }
  Bytes BufferText() const override { return prefs_.repBufferText; }
  Bytes BlockToken() const override { return prefs_.replaceII; }
  Bytes Block() const override { return prefs_.replaceIIblock; }

  bool Enabled() const override { return prefs_.act == 1; }
  bool ProfileUpdates() const override { return prefs_.profileact == 1; }
  bool AwayUpdates() const override { return prefs_.awayact == 1; }
  bool AwayUsesBlock() const override { return !prefs_.awayprefOwnMessage; }

 private:
  const Preferences& prefs_;
};

}  // namespace quorvel
