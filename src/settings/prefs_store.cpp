#include "settings/prefs_store.h"

#include <QFileInfo>
#include <optional>
#include <string>
#include <vector>

#include "settings/ini_file.h"
#include "settings/settings_table.h"

namespace quorvel {
namespace {

bool SomethingAt(const QString& path) {
  const QFileInfo info(path);
  return info.exists() || info.isSymLink();
}

}  // namespace

QString PrefsStore::SourcePath() const {
  if (!seedPath_.isEmpty() && !SomethingAt(path_) && SomethingAt(seedPath_)) return seedPath_;
  return path_;
}

bool PrefsStore::Check() const {
  std::string error;
  if (ReadIniDocument(SourcePath(), &error)) return true;
  ReportSettingsProblem(error);
  return false;
}

Preferences PrefsStore::Load() {
  Preferences prefs;
  const QString source = SourcePath();
  std::string error;
  const std::optional<IniDocument> ini = ReadIniDocument(source, &error, &fileFound_);
  if (!ini) {
    fileFound_ = false;
    ReportSettingsProblem(error + "; using the default settings");
    return prefs;
  }
  if (!fileFound_) {
    return prefs;
  }
  std::vector<std::string> refused;
  LoadSettings(*ini, prefs, &refused);
  for (const std::string& warning : refused) {
    ReportSettingsProblem(source.toStdString() + ": " + warning);
  }
  return prefs;
}

bool PrefsStore::Save(const Preferences& prefs) {
  std::string error;
  std::optional<IniDocument> ini = ReadIniDocument(SourcePath(), &error);
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
