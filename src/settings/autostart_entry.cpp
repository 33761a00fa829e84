#include "settings/autostart_entry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>

namespace quorvel {
namespace {

// The program as one argument of an entry's Exec key: between double quotes, with the characters
// that quoting reserves escaped by a backslash and "%" (which starts a field code) doubled; then
// the backslashes doubled once more, since the key's string escapes are undone before the quoting.
QString ExecArgument(const QString& program) {
  QString quoted = QStringLiteral("\"");
  for (const QChar c : program) {
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
    if (c == u'%') quoted += u'%';
    quoted += c;
  }
  quoted += u'"';
  return quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
}

}  // namespace

QString AutostartEntryPath() {
  const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (config.isEmpty()) return {};
  return config + QStringLiteral("/autostart/" QUORVEL_APP_ID ".desktop");
}

std::optional<QByteArray> AutostartEntryText(const QString& program) {
  const bool unwritable = std::any_of(program.begin(), program.end(), [](QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7F || c == u'=';
  });
  if (!QDir::isAbsolutePath(program) || unwritable) return std::nullopt;
  return QStringLiteral(
             "[Desktop Entry]\n"
             "Type=Application\n"
             "Name=Quorvel\n"
             "Exec=%1\n"
             "Icon=" QUORVEL_APP_ID
             "\n"
             "Terminal=false\n"
             "X-GNOME-Autostart-enabled=true\n")
      .arg(ExecArgument(program))
      .toUtf8();
}

bool WriteAutostart(bool enabled, const QString& program, QString* error) {
  const QString path = AutostartEntryPath();
  const auto fail = [error](const QString& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  if (path.isEmpty()) return fail(QStringLiteral("There is no configuration folder to write in"));
  if (!enabled) {
    QFile entry(path);
    if (!entry.exists() || entry.remove()) return true;
    return fail(QStringLiteral("Cannot remove %1: %2").arg(path, entry.errorString()));
  }
  const std::optional<QByteArray> text = AutostartEntryText(program);
  if (!text) {
    return fail(
        QStringLiteral("The program's path cannot be written in a desktop entry: %1").arg(program));
  }
  const QString folder = QFileInfo(path).path();
  if (!QDir().mkpath(folder))
    return fail(QStringLiteral("Cannot create the folder %1").arg(folder));
  QSaveFile entry(path);
  if (!entry.open(QIODevice::WriteOnly) || entry.write(*text) != text->size() || !entry.commit()) {
    return fail(QStringLiteral("Cannot write %1: %2").arg(path, entry.errorString()));
  }
  return true;
}

}  // namespace quorvel
