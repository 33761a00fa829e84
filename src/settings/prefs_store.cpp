#include "settings/prefs_store.h"

#include "settings/ini_file.h"

namespace quorvel {

Preferences PrefsStore::Load(const KeyApplied& applied) {
  warnings_.clear();
  Preferences prefs;
  fileFound_ = FileExists(path_);
  if (!fileFound_) {
    return prefs;
  }
  std::string error;
  const std::optional<IniDocument> ini = ReadIniDocument(path_, &error);
  if (!ini) {
    warnings_.push_back(error + "; using the default settings");
  } else {
    std::vector<std::string> refused;
    LoadKavoPrefs(*ini, prefs, &refused, applied);
    LoadPrefs(*ini, prefs, &refused, applied);
    for (const std::string& warning : refused) {
      warnings_.push_back(path_.toStdString() + ": " + warning);
    }
  }
  for (const std::string& warning : warnings_) {
    ReportSettingsProblem(warning);
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
  SaveKavoPrefs(prefs, *ini, &problems);
  SavePrefs(prefs, *ini, &problems);
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
