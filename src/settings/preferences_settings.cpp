#include "settings/preferences_settings.h"

namespace quorvel {

FieldFormat PreferencesSettings::Field(MediaField field) const {
  const FieldPrefs& f = prefs_.fields.at(static_cast<std::size_t>(field));
  return FieldFormat{f.token, f.caseIndex, f.length, f.pad, f.justification};
}

}  // namespace quorvel
