#include "net/qt_socket.h"

#include <sys/socket.h>

#include <QHostAddress>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <utility>
#include <vector>

#include "net/qt_listener.h"
#include "wire/error.h"

namespace quorvel {
namespace {

int lingering = 0;

// Sockets written to during the notification being handled, flushed once it returns.
std::vector<QPointer<QTcpSocket>> unflushed;

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

std::unique_ptr<AsyncSocket> QtSocketFactory::MakeSocket() {
  return std::make_unique<QtSocket>(*this);
}

std::unique_ptr<AsyncListener> QtSocketFactory::MakeListener() {
  return std::make_unique<QtListener>(*this);
}

int QtSocketFactory::LingeringCount() {
  return lingering;
}

RequestId QtSocketFactory::AddPending(QTcpSocket* socket) {
  const RequestId id = ++nextId_;
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

void QtSocket::FlushWrites() {
  std::vector<QPointer<QTcpSocket>> list;
  list.swap(unflushed);
  for (const QPointer<QTcpSocket>& socket : list) {
    if (socket != nullptr && socket->state() == QAbstractSocket::ConnectedState) socket->flush();
  }
}

QtSocket::QtSocket(QtSocketFactory& factory) : factory_(factory) {}

QtSocket::~QtSocket() {
  Close();
}

template <typename F>
void QtSocket::Notify(F deliver) {
  if (inCall_ > 0) {
    QTimer::singleShot(0, this, [this, deliver, epoch = epoch_] {
      if (epoch != epoch_ || observer_ == nullptr) return;
      deliver(*observer_);
      FlushWrites();
    });
    return;
  }
  // The observer may destroy this socket: nothing touches it after the call.
  if (SocketObserver* observer = observer_) {
    deliver(*observer);
    FlushWrites();
  }
}

void QtSocket::Attach(QTcpSocket* socket) {
  socket_ = socket;
  socket_->setParent(nullptr);
  socket_->setReadBufferSize(QtSocketFactory::kReadBufferSize);
  connect(socket_, &QTcpSocket::connected, this, [this] {
    wasConnected_ = true;
    Notify([](SocketObserver& o) { o.OnConnect(); });
  });
  connect(socket_, &QTcpSocket::readyRead, this,
          [this] { Notify([this](SocketObserver& o) { o.OnDataArrival(BytesAvailable()); }); });
  connect(socket_, &QTcpSocket::disconnected, this,
          [this] { Notify([](SocketObserver& o) { o.OnClose(); }); });
  connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
    // Failures of an established connection end it, and its close is what gets reported.
    if (wasConnected_ || error == QAbstractSocket::RemoteHostClosedError) return;
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
  return targetPort_;
}

std::string QtSocket::RemoteHostIP() const {
  if (socket_ != nullptr && !socket_->peerAddress().isNull()) {
    return DottedIPv4(socket_->peerAddress());
  }
  return targetIp_;
}

void QtSocket::Connect(const std::string& host, std::uint16_t port) {
  if (State() != SocketState::kClosed) Close();
  ++epoch_;
  wasConnected_ = false;
  targetIp_ = host;
  targetPort_ = port;
  Attach(new QTcpSocket());
  QHostAddress address;
  if (!address.setAddress(QString::fromStdString(host))) {
    ++inCall_;
    Notify([host](SocketObserver& o) { o.OnError("Invalid address: " + host); });
    --inCall_;
    return;
  }
  ++inCall_;
  socket_->connectToHost(address, port);
  --inCall_;
}

void QtSocket::Accept(RequestId id) {
  QTcpSocket* socket = factory_.TakePending(id);
  if (socket == nullptr) throw Error("The connection request is gone");
  Close();
  ++epoch_;
  Attach(socket);
  wasConnected_ = true;
  targetIp_ = DottedIPv4(socket->peerAddress());
  targetPort_ = socket->peerPort();
}

void QtSocket::SendData(BytesView data) {
  if (socket_ == nullptr || socket_->state() != QAbstractSocket::ConnectedState) {
    throw Error("Socket is not connected");
  }
  ++inCall_;
  const bool idle = socket_->bytesToWrite() == 0;
  const qint64 written = socket_->write(data.data(), static_cast<qint64>(data.size()));
  --inCall_;
  if (written < 0) throw Error(socket_->errorString().toStdString());
  // Written out when the notification being handled returns, without waiting for another pass
  // of the event loop.
  if (idle) unflushed.emplace_back(socket_);
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
  ++inCall_;
  const qint64 got = socket_->read(out.data(), static_cast<qint64>(n));
  // Qt stops reading from the network when its buffer is full and starts again only when a read
  // asks for more than the buffer holds. Reads of whole frames never do, so resume it here: a
  // changed limit makes Qt re-enable reading whenever the buffer has room.
  alternateLimit_ = !alternateLimit_;
  socket_->setReadBufferSize(QtSocketFactory::kReadBufferSize + (alternateLimit_ ? 1 : 0));
  --inCall_;
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

}  // namespace quorvel
