#include "proxy/qt_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "wire/error.h"

namespace quorvel {
namespace {

int lingering = 0;

std::string DottedIPv4(const QHostAddress& address) {
  bool ok = false;
  const quint32 v4 = address.toIPv4Address(&ok);
  if (!ok) return address.toString().toStdString();
  return std::to_string(v4 >> 24) + "." + std::to_string((v4 >> 16) & 0xFF) + "." +
         std::to_string((v4 >> 8) & 0xFF) + "." + std::to_string(v4 & 0xFF);
}

// Ends a connection that its owner has closed without losing what is still queued: the queue is
// written, then our side is shut down for writing so the peer sees every byte and then the end
// of the stream; the socket goes away when the peer closes too, or after a time limit. Bytes that
// still arrive are read and discarded, so the kernel never resets the connection over them.
void Linger(QTcpSocket* socket) {
  if (socket->state() != QAbstractSocket::ConnectedState) {
    socket->abort();
    socket->deleteLater();
    return;
  }
  ++lingering;
  auto done = std::make_shared<bool>(false);
  auto finish = [socket, done] {
    if (*done) return;
    *done = true;
    --lingering;
    socket->deleteLater();
  };
  auto shutdownWhenFlushed = [socket] {
    if (socket->bytesToWrite() == 0 && socket->socketDescriptor() >= 0) {
      ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
    }
  };
  QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
  QObject::connect(socket, &QTcpSocket::bytesWritten, socket, shutdownWhenFlushed);
  QObject::connect(socket, &QTcpSocket::disconnected, socket, finish);
  QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [socket, finish] {
    if (socket->state() == QAbstractSocket::UnconnectedState) finish();
  });
  QTimer::singleShot(QtSocketFactory::kLingerMilliseconds, socket, [socket, finish] {
    socket->abort();
    finish();
  });
  socket->readAll();
  socket->flush();
  shutdownWhenFlushed();
}

}  // namespace

// ---- Factory --------------------------------------------------------------------------------

QtSocketFactory::~QtSocketFactory() {
  for (auto& [id, socket] : pending_) delete socket;
}

std::unique_ptr<AsyncSocket> QtSocketFactory::CreateSocket() {
  return std::make_unique<QtSocket>(*this);
}

std::unique_ptr<AsyncListener> QtSocketFactory::CreateListener() {
  return std::make_unique<QtListener>(*this);
}

int QtSocketFactory::LingeringCount() {
  return lingering;
}

RequestId QtSocketFactory::AddPending(QTcpSocket* socket) {
  const RequestId id = ++next_id_;
  pending_.emplace(id, socket);
  return id;
}

QTcpSocket* QtSocketFactory::TakePending(RequestId id) {
  auto it = pending_.find(id);
  if (it == pending_.end()) return nullptr;
  QTcpSocket* socket = it->second;
  pending_.erase(it);
  return socket;
}

// ---- Socket ---------------------------------------------------------------------------------

QtSocket::QtSocket(QtSocketFactory& factory) : factory_(factory) {}

QtSocket::~QtSocket() {
  Close();
}

template <typename F>
void QtSocket::Notify(F deliver) {
  if (in_call_ > 0) {
    QTimer::singleShot(0, this, [this, deliver, epoch = epoch_] {
      if (epoch == epoch_ && observer_ != nullptr) deliver(*observer_);
    });
    return;
  }
  // The observer may destroy this socket: nothing touches it after the call.
  if (SocketObserver* observer = observer_) deliver(*observer);
}

void QtSocket::Attach(QTcpSocket* socket) {
  socket_ = socket;
  socket_->setParent(nullptr);
  socket_->setReadBufferSize(QtSocketFactory::kReadBufferSize);
  connect(socket_, &QTcpSocket::connected, this, [this] {
    was_connected_ = true;
    Notify([](SocketObserver& o) { o.OnConnect(); });
  });
  connect(socket_, &QTcpSocket::readyRead, this,
          [this] { Notify([this](SocketObserver& o) { o.OnDataArrival(BytesAvailable()); }); });
  connect(socket_, &QTcpSocket::disconnected, this,
          [this] { Notify([](SocketObserver& o) { o.OnClose(); }); });
  connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
    // Failures of an established connection end it, and its close is what gets reported.
    if (was_connected_ || error == QAbstractSocket::RemoteHostClosedError) return;
    Notify([text = socket_->errorString().toStdString()](SocketObserver& o) { o.OnError(text); });
  });
  connect(socket_, &QTcpSocket::bytesWritten, this,
          [this] { Notify([this](SocketObserver& o) { o.OnSendProgress(BytesPending()); }); });
}

SocketState QtSocket::State() const {
  if (socket_ == nullptr) return SocketState::kClosed;
  switch (socket_->state()) {
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState:
      return SocketState::kConnecting;
    case QAbstractSocket::ConnectedState:
      return SocketState::kConnected;
    case QAbstractSocket::ClosingState:
      return SocketState::kClosing;
    case QAbstractSocket::ListeningState:
      return SocketState::kListening;
    case QAbstractSocket::UnconnectedState:
    case QAbstractSocket::BoundState:
      break;
  }
  return socket_->error() == QAbstractSocket::UnknownSocketError ? SocketState::kClosed
                                                                 : SocketState::kError;
}

std::uint16_t QtSocket::RemotePort() const {
  if (socket_ != nullptr && socket_->peerPort() != 0) return socket_->peerPort();
  return target_port_;
}

std::string QtSocket::RemoteHostIP() const {
  if (socket_ != nullptr && !socket_->peerAddress().isNull()) {
    return DottedIPv4(socket_->peerAddress());
  }
  return target_ip_;
}

void QtSocket::Connect(const std::string& host, std::uint16_t port) {
  if (State() != SocketState::kClosed) Close();
  ++epoch_;
  was_connected_ = false;
  target_ip_ = host;
  target_port_ = port;
  Attach(new QTcpSocket());
  QHostAddress address;
  if (!address.setAddress(QString::fromStdString(host))) {
    ++in_call_;
    Notify([host](SocketObserver& o) { o.OnError("Invalid address: " + host); });
    --in_call_;
    return;
  }
  ++in_call_;
  socket_->connectToHost(address, port);
  --in_call_;
}

void QtSocket::Accept(RequestId id) {
  QTcpSocket* socket = factory_.TakePending(id);
  if (socket == nullptr) throw Error("The connection request is gone");
  Close();
  ++epoch_;
  Attach(socket);
  was_connected_ = true;
  target_ip_ = DottedIPv4(socket->peerAddress());
  target_port_ = socket->peerPort();
}

void QtSocket::SendData(BytesView data) {
  if (socket_ == nullptr || socket_->state() != QAbstractSocket::ConnectedState) {
    throw Error("Socket is not connected");
  }
  ++in_call_;
  const bool idle = socket_->bytesToWrite() == 0;
  const qint64 written = socket_->write(data.data(), static_cast<qint64>(data.size()));
  // Write at once when nothing is queued: one event-loop pass less on every relayed chunk.
  if (written >= 0 && idle) socket_->flush();
  --in_call_;
  if (written < 0) throw Error(socket_->errorString().toStdString());
}

std::size_t QtSocket::BytesPending() const {
  return socket_ == nullptr ? 0 : static_cast<std::size_t>(socket_->bytesToWrite());
}

std::size_t QtSocket::BytesAvailable() const {
  return socket_ == nullptr ? 0 : static_cast<std::size_t>(socket_->bytesAvailable());
}

Bytes QtSocket::PeekData(std::size_t maximum) {
  const std::size_t n = std::min(maximum, BytesAvailable());
  if (n == 0) return {};
  Bytes out(n, '\0');
  const qint64 got = socket_->peek(out.data(), static_cast<qint64>(n));
  out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return out;
}

Bytes QtSocket::GetData(std::size_t maximum) {
  const std::size_t n = std::min(maximum, BytesAvailable());
  if (n == 0) return {};
  Bytes out(n, '\0');
  ++in_call_;
  const qint64 got = socket_->read(out.data(), static_cast<qint64>(n));
  --in_call_;
  out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return out;
}

void QtSocket::Close() {
  if (socket_ == nullptr) return;
  ++epoch_;
  QTcpSocket* socket = std::exchange(socket_, nullptr);
  disconnect(socket, nullptr, this, nullptr);
  Linger(socket);
}

// ---- Listener -------------------------------------------------------------------------------

QtListener::QtListener(QtSocketFactory& factory)
    : factory_(factory), spare_fd_(::open("/dev/null", O_RDONLY | O_CLOEXEC)) {
  server_.setListenBacklogSize(1024);
}

QtListener::~QtListener() {
  Close();
  if (spare_fd_ >= 0) ::close(spare_fd_);
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
  if (outOfDescriptors && spare_fd_ >= 0) {
    // Take the waiting connection with the descriptor held in reserve and close it, so that it
    // does not keep the listener failing; its client sees the connection closed.
    ::close(spare_fd_);
    const int fd =
        ::accept4(static_cast<int>(server_.socketDescriptor()), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) ::close(fd);
    spare_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  } else if (notifier_ != nullptr) {
    // Try again shortly rather than spin while the condition lasts.
    notifier_->setEnabled(false);
    QTimer::singleShot(100, notifier_.get(), [n = notifier_.get()] { n->setEnabled(true); });
  }
  if (observer_ != nullptr) observer_->OnAcceptError(description);
}

}  // namespace quorvel
