#include "session/single_instance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

namespace quorvel {
namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kStatusRequest[] = "status\n";
constexpr qint64 kMaxLine = 512;

// The path of the settings file with every link and "." or ".." resolved, as far as the file and
// its folder exist; two paths of one file give the same text.
QString CanonicalSettingsPath(const QString& path) {
  const QFileInfo info(path);
  const QString canonical = info.canonicalFilePath();
  if (!canonical.isEmpty()) return canonical;
  const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
  if (!folder.isEmpty()) return QDir(folder).filePath(info.fileName());
  return QDir::cleanPath(info.absoluteFilePath());
}

// The lock's and the socket's name: per user, so that users never share one.
QString KeyOf(const QString& settingsPath) {
  const QByteArray hash = QCryptographicHash::hash(CanonicalSettingsPath(settingsPath).toUtf8(),
                                                   QCryptographicHash::Sha256)
                              .toHex()
                              .left(24);
#if defined(Q_OS_UNIX)
  const QString user = QString::number(::getuid());
#else
  const QString user = qEnvironmentVariable("USERNAME");
#endif
  return QStringLiteral("quorvel-%1-%2").arg(user, QString::fromLatin1(hash));
}

// "window 3131 127.0.0.1": whether it has a window, its port, its address.
QByteArray Describe(const RunningInstance& running) {
  return QByteArray(running.hasWindow ? "window " : "headless ") +
         QByteArray::number(running.port) + ' ' + QByteArray::fromStdString(running.address) + '\n';
}

std::optional<RunningInstance> Parse(const QByteArray& line) {
  const QList<QByteArray> words = line.trimmed().split(' ');
  if (words.size() != 3 || (words[0] != "window" && words[0] != "headless")) return std::nullopt;
  bool ok = false;
  const uint port = words[1].toUInt(&ok);
  if (!ok || port > 65535) return std::nullopt;
  return RunningInstance{words[0] == "window", words[2].toStdString(),
                         static_cast<std::uint16_t>(port)};
}

}  // namespace

SingleInstance::SingleInstance(const QString& settingsPath, QObject* parent)
    : QObject(parent),
      key_(KeyOf(settingsPath)),
      lock_(QDir(QDir::tempPath()).filePath(key_ + QStringLiteral(".lock"))) {
  lock_.setStaleLockTime(0);  // stale only when its process is gone
}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
}

bool SingleInstance::Claim() {
  if (!lock_.tryLock(0)) {
    return lock_.error() != QLockFile::LockFailedError;
  }
  // Whatever socket is there was left by a program that died: the lock was free.
  QLocalServer::removeServer(key_);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (server_->listen(key_)) {
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::Answer);
  }
  return true;
}

void SingleInstance::SetDescription(std::function<RunningInstance()> describe) {
  describe_ = std::move(describe);
}

void SingleInstance::Answer() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    // A caller that says nothing is dropped after a while; the socket goes with the server.
    QTimer::singleShot(kAnswerWaitMs, socket, &QLocalSocket::abort);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxLine) socket->abort();
        return;
      }
      const QByteArray request = socket->readLine(kMaxLine);
      if (request == kShowRequest) emit showRequested();
      socket->write(Describe(describe_ ? describe_() : RunningInstance{}));
      socket->disconnectFromServer();  // after the answer is written
    });
  }
}

std::optional<RunningInstance> SingleInstance::AskHolder(Request request, int waitMs) {
  QLocalSocket socket;
  const QDeadlineTimer deadline(waitMs);
  QByteArray reply;
  bool sent = false;
  // The holder may be between taking the lock and listening: connecting is tried again.
  for (;;) {
    if (socket.isOpen()) reply += socket.read(kMaxLine - reply.size());
    if (reply.contains('\n') || reply.size() >= kMaxLine || deadline.hasExpired()) break;
    if (socket.state() == QLocalSocket::UnconnectedState) {
      if (sent) break;  // it hung up without an answer
      socket.connectToServer(key_);
    }
    if (socket.state() == QLocalSocket::ConnectedState && !sent) {
      socket.write(request == Request::kShow ? kShowRequest : kStatusRequest);
      sent = true;
    }
    // The holder may be this very process (a test): its answer needs the event loop.
    QCoreApplication::processEvents();
    QThread::msleep(10);
  }
  return Parse(reply.left(reply.indexOf('\n') + 1));
}

}  // namespace quorvel
