#include "net/qt_listener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>
#include <cerrno>
#include <cstring>
#include <utility>

#include "wire/error.h"

namespace quorvel {

namespace {

// How long accepting rests after it failed for lack of descriptors or memory.
constexpr int kAcceptRetryMs = 200;

}  // namespace

QtListener::QtListener(QtSocketFactory& factory) : factory_(factory) {
  server_.setListenBacklogSize(1024);
}

QtListener::~QtListener() {
  Close();
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
  failing_ = false;
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
    failing_ = false;
    const RequestId id = factory_.AddPending(fd);
    if (observer_ != nullptr) observer_->OnConnectionRequest(id);
    QtSocket::FlushWrites();
    const int unclaimed = factory_.TakePending(id);
    if (unclaimed >= 0) ::close(unclaimed);
  }
}

void QtListener::AcceptFailed(int error) {
  // Try again shortly rather than spin while the condition lasts; the waiting client is neither
  // taken nor turned away meanwhile.
  if (notifier_ != nullptr) {
    notifier_->setEnabled(false);
    QTimer::singleShot(kAcceptRetryMs, notifier_.get(), [this] { Rearm(); });
  }
  if (std::exchange(failing_, true)) return;
  if (observer_ != nullptr) observer_->OnAcceptError(std::strerror(error));
}

void QtListener::Rearm() {
  if (notifier_ != nullptr) notifier_->setEnabled(true);
}

}  // namespace quorvel
