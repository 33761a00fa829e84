#include "net/qt_listener.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>
#include <cerrno>
#include <cstring>

#include "wire/error.h"

namespace quorvel {

QtListener::QtListener(QtSocketFactory& factory)
    : factory_(factory), spareFd_(::open("/dev/null", O_RDONLY | O_CLOEXEC)) {
  server_.setListenBacklogSize(1024);
}

QtListener::~QtListener() {
  Close();
  if (spareFd_ >= 0) ::close(spareFd_);
}

void QtListener::Listen(const std::string& address, std::uint16_t port) {
  Close();
  QHostAddress bind;
  if (!bind.setAddress(QString::fromStdString(address))) {
    throw Error("Not an address to listen on: " + address);
  }
  if (!server_.listen(bind, port)) throw Error(server_.errorString().toStdString());
  server_.pauseAccepting();
  notifier_ = std::make_unique<QSocketNotifier>(server_.socketDescriptor(), QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
}

void QtListener::Close() {
  notifier_.reset();
  server_.close();
}

void QtListener::OnReadable() {
  // A bounded batch per wake-up keeps other sockets served during a flood of connections.
  for (int k = 0; k < 64 && notifier_ != nullptr; ++k) {
    const int fd = ::accept4(static_cast<int>(server_.socketDescriptor()), nullptr, nullptr,
                             SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if (errno == EINTR || errno == ECONNABORTED) continue;
      AcceptFailed(errno);
      return;
    }
    auto* socket = new QTcpSocket();
    if (!socket->setSocketDescriptor(fd)) {
      const std::string description = socket->errorString().toStdString();
      ::close(fd);
      delete socket;
      if (observer_ != nullptr) observer_->OnAcceptError(description);
      continue;
    }
    const RequestId id = factory_.AddPending(socket);
    if (observer_ != nullptr) observer_->OnConnectionRequest(id);
    QtSocket::FlushWrites();
    if (QTcpSocket* unclaimed = factory_.TakePending(id)) {
      unclaimed->abort();
      unclaimed->deleteLater();
    }
  }
}

void QtListener::AcceptFailed(int error) {
  const std::string description = std::strerror(error);
  const bool outOfDescriptors =
      error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
  if (outOfDescriptors && spareFd_ >= 0) {
    // Take the waiting connection with the descriptor held in reserve and close it, so that it
    // does not keep the listener failing; its client sees the connection closed.
    ::close(spareFd_);
    const int fd =
        ::accept4(static_cast<int>(server_.socketDescriptor()), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) ::close(fd);
    spareFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  } else if (notifier_ != nullptr) {
    // Try again shortly rather than spin while the condition lasts.
    notifier_->setEnabled(false);
    QTimer::singleShot(100, notifier_.get(), [n = notifier_.get()] { n->setEnabled(true); });
  }
  if (observer_ != nullptr) observer_->OnAcceptError(description);
}

}  // namespace quorvel
