#include "settings/prefs_location.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace quorvel {
namespace {

// Saving replaces the file with a new one made in its folder, so the folder must take a new file.
// Creating one is the one test of that which holds everywhere: permission bits say nothing for
// the superuser or on a read-only mount, and little on Windows.
bool CanCreateFileIn(const QString& dir) {
  QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".quorvel-probe-XXXXXX")));
  return probe.open();
}

}  // namespace

PrefsLocation ChoosePrefsLocation(const QString& overridePath, const QString& programDir,
                                  const QString& configDir) {
  if (!overridePath.isEmpty()) {
    return {QFileInfo(overridePath).absoluteFilePath(), {}};
  }
  const QString beside = QDir(programDir).filePath(QLatin1String(kPrefsFileName));
  const QFileInfo besideInfo(beside);
  const bool besideExists = besideInfo.exists() || besideInfo.isSymLink();
  if (besideExists && besideInfo.isFile() && besideInfo.isWritable() &&
      CanCreateFileIn(programDir)) {
    return {beside, {}};
  }
  return {QDir(configDir).filePath(QLatin1String(kPrefsFileName)),
          besideExists ? beside : QString()};
}

PrefsLocation FindPrefsLocation(const QString& overridePath) {
  return ChoosePrefsLocation(overridePath, QCoreApplication::applicationDirPath(),
                             QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

}  // namespace quorvel
