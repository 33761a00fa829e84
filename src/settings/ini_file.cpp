#include "settings/ini_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <iostream>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace quorvel {
namespace {

std::string Describe(const QString& path, std::string_view reason) {
  return path.toStdString() + ": " + std::string(reason);
}

std::string TooLarge() {
  return "is larger than " + std::to_string(kMaxIniFileBytes >> 20) + " MiB, not a settings file";
}

struct FileBytes {
  bool found = false;
  std::optional<Bytes> bytes;
  std::string problem;  // without the path
};

#if defined(Q_OS_UNIX)
// The kind of file that `mode` names, for a message.
const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// Opened without blocking (a FIFO would wait for a writer), then looked at through the open
// descriptor, so that what is read is what was checked.
FileBytes ReadRegularFile(const QString& path) {
  FileBytes result;
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    struct stat info = {};
    result.found = error != ENOENT || ::lstat(name.constData(), &info) == 0;
    if (result.found) result.problem = std::string("cannot be read: ") + std::strerror(error);
    return result;
  }
  result.found = true;
  struct stat info = {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    result.problem = std::string("is ") + KindOf(info.st_mode) + ", not a settings file";
  } else if (info.st_size > kMaxIniFileBytes) {
    result.problem = TooLarge();
  } else {
    // Read in chunks up to one past the limit: the file may grow while it is read.
    Bytes bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[64 * 1024];
    for (;;) {
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        result.problem = std::string("cannot be read: ") + std::strerror(errno);
        break;
      }
      if (n == 0) {
        result.bytes = std::move(bytes);
        break;
      }
      bytes.append(chunk, static_cast<std::size_t>(n));
      if (static_cast<std::int64_t>(bytes.size()) > kMaxIniFileBytes) {
        result.problem = TooLarge();
        break;
      }
    }
  }
  ::close(fd);
  return result;
}
#else
FileBytes ReadRegularFile(const QString& path) {
  FileBytes result;
  const QFileInfo info(path);
  result.found = info.exists() || info.isSymLink();
  if (!result.found) return result;
  if (!info.isFile()) {
    result.problem = info.isDir() ? "is a folder, not a settings file" : "is not a regular file";
    return result;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    result.problem = "cannot be read: " + file.errorString().toStdString();
    return result;
  }
  const QByteArray bytes = file.read(kMaxIniFileBytes + 1);
  if (file.error() != QFileDevice::NoError) {
    result.problem = "cannot be read: " + file.errorString().toStdString();
  } else if (bytes.size() > kMaxIniFileBytes) {
    result.problem = TooLarge();
  } else {
    result.bytes = bytes.toStdString();
  }
  return result;
}
#endif

}  // namespace

void ReportSettingsProblem(std::string_view message) {
  std::cerr << "quorvel: " << message << std::endl;
}

std::optional<IniDocument> ReadIniDocument(const QString& path, std::string* error, bool* found) {
  const FileBytes file = ReadRegularFile(path);
  if (found != nullptr) *found = file.found;
  if (!file.found) return IniDocument();
  if (!file.bytes) {
    if (error != nullptr) *error = Describe(path, file.problem);
    return std::nullopt;
  }
  return IniDocument::Parse(*file.bytes);
}

bool WriteFileAtomically(const QString& path, BytesView data, std::string* error,
                         const std::function<void()>& beforeCommit) {
  auto fail = [&](const QString& reason) {
    if (error != nullptr) {
      *error = Describe(path, "cannot be written: " + reason.toStdString());
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
