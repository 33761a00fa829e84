#include "settings/ini_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <iostream>

namespace quorvel {
namespace {

std::string Describe(const QString& path, const QString& reason) {
  return (path + QStringLiteral(": ") + reason).toStdString();
}

}  // namespace

void ReportSettingsProblem(std::string_view message) {
  std::cerr << "quorvel: " << message << std::endl;
}

bool FileExists(const QString& path) {
  if (path.isEmpty() || QFileInfo(path).isDir()) {
    return false;
  }
  QFile file(path);
  return file.open(QIODevice::ReadOnly);
}

std::optional<IniDocument> ReadIniDocument(const QString& path, std::string* error) {
  const QFileInfo info(path);
  if (!info.exists() && !info.isSymLink()) {
    return IniDocument();
  }
  QFile file(path);
  if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
    if (error != nullptr) {
      *error =
          Describe(path, info.isDir() ? QStringLiteral("is a folder, not a file")
                                      : QStringLiteral("cannot be read: ") + file.errorString());
    }
    return std::nullopt;
  }
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    if (error != nullptr) {
      *error = Describe(path, QStringLiteral("cannot be read: ") + file.errorString());
    }
    return std::nullopt;
  }
  return IniDocument::Parse(BytesView(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

bool WriteFileAtomically(const QString& path, BytesView data, std::string* error,
                         const std::function<void()>& beforeCommit) {
  auto fail = [&](const QString& reason) {
    if (error != nullptr) {
      *error = Describe(path, QStringLiteral("cannot be written: ") + reason);
    }
    return false;
  };
  const QFileInfo info(path);
  if (!QDir().mkpath(info.absolutePath())) {
    return fail(QStringLiteral("cannot create the folder ") + info.absolutePath());
  }
  QSaveFile file(path);
  file.setDirectWriteFallback(false);
  if (!file.open(QIODevice::WriteOnly)) {
    return fail(file.errorString());
  }
  const auto size = static_cast<qint64>(data.size());
  if (file.write(data.data(), size) != size) {
    const QString reason = file.errorString();
    file.cancelWriting();
    return fail(reason);
  }
  if (beforeCommit) {
    file.flush();
    beforeCommit();
  }
  if (!file.commit()) {
    return fail(file.errorString());
  }
  return true;
}

}  // namespace quorvel
