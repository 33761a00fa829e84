#include "settings/preferences_settings.h"

namespace quorvel {

FieldFormat PreferencesSettings::Field(MediaField field) const {
  const FieldPrefs& f = prefs_.Field(field);
  return FieldFormat{f.token, f.caseIndex, f.length, f.pad, f.justification};
}

}  // namespace quorvel
