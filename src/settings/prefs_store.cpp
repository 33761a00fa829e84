#include "settings/prefs_store.h"

#include <optional>
#include <string>
#include <vector>

#include "settings/ini_file.h"
#include "settings/settings_table.h"

namespace quorvel {

Preferences PrefsStore::Load() {
  Preferences prefs;
  fileFound_ = FileExists(path_);
  if (!fileFound_) {
    return prefs;
  }
  std::string error;
  const std::optional<IniDocument> ini = ReadIniDocument(path_, &error);
  if (!ini) {
    ReportSettingsProblem(error + "; using the default settings");
    return prefs;
  }
  std::vector<std::string> refused;
  LoadSettings(*ini, prefs, &refused);
  for (const std::string& warning : refused) {
    ReportSettingsProblem(path_.toStdString() + ": " + warning);
  }
  return prefs;
}

bool PrefsStore::Save(const Preferences& prefs) {
  std::string error;
  std::optional<IniDocument> ini = ReadIniDocument(path_, &error);
  if (!ini) {
    ReportSettingsProblem(error + "; settings not saved");
    return false;
  }
  std::vector<std::string> problems;
  SaveSettings(prefs, *ini, &problems);
  for (const std::string& problem : problems) {
    ReportSettingsProblem(path_.toStdString() + ": " + problem);
  }
  if (!WriteFileAtomically(path_, ini->Serialize(), &error)) {
    ReportSettingsProblem(error + "; settings not saved");
    return false;
  }
  return problems.empty();
}

}  // namespace quorvel
