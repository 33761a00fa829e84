#include "gui/launch_file.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace quorvel {

bool LaunchFile(const QString& file, const QString& directory) {
  if (file.trimmed().isEmpty()) return false;
  const QFileInfo info(file);
  if (info.exists()) {
    if (info.isFile() && info.isExecutable()) {
      return QProcess::startDetached(info.absoluteFilePath(), {}, directory);
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
  }
  // Not a file: a URL with a scheme of its own ("https://...") is opened too.
  const QUrl url(file, QUrl::StrictMode);
  if (file.contains(QStringLiteral("://")) && url.isValid() && !url.isLocalFile()) {
    return QDesktopServices::openUrl(url);
  }
  return false;
}

}  // namespace quorvel
