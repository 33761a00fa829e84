#include "settings/prefs_location.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace quorvel {
namespace {

// Creating a file is the one test of writability that holds everywhere: permission bits say
// nothing for the superuser or on a read-only mount, and little on Windows.
bool CanCreateFileIn(const QString& dir) {
  QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".quorvel-probe-XXXXXX")));
  return probe.open();
}

}  // namespace

QString ChoosePrefsPath(const QString& overridePath, const QString& programDir,
                        const QString& configDir) {
  if (!overridePath.isEmpty()) {
    return QFileInfo(overridePath).absoluteFilePath();
  }
  const QString beside = QDir(programDir).filePath(QLatin1String(kPrefsFileName));
  if (QFileInfo::exists(beside) || CanCreateFileIn(programDir)) {
    return beside;
  }
  return QDir(configDir).filePath(QLatin1String(kPrefsFileName));
}

QString PrefsPath(const QString& overridePath) {
  return ChoosePrefsPath(overridePath, QCoreApplication::applicationDirPath(),
                         QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

}  // namespace quorvel
