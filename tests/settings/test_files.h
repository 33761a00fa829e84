#pragma once
// A file's bytes read or written whole, and an environment variable set for the life of an object.

#include <QByteArray>
#include <QFile>
#include <QString>

#include "wire/bytes.h"

namespace quorvel::testing {

// The file's bytes, or "<unreadable>".
inline Bytes ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<unreadable>";
}

inline bool WriteBytes(const QString& path, BytesView bytes) {
  QFile file(path);
  const auto size = static_cast<qint64>(bytes.size());
  return file.open(QIODevice::WriteOnly) && file.write(bytes.data(), size) == size;
}

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const QString& value) : name_(name), old_(qgetenv(name)) {
    qputenv(name, value.toUtf8());
  }
  ~ScopedEnvironment() { old_.isNull() ? qunsetenv(name_) : qputenv(name_, old_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  QByteArray old_;
};

}  // namespace quorvel::testing
