#pragma once
// The asynchronous socket interface over Qt Network, on the Qt event loop of the thread that
// creates the sockets: the factory, and the connection socket over QTcpSocket. The listener is in
// qt_listener.h.

#include <QObject>
#include <QTcpSocket>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "proxy/async_socket.h"

namespace quorvel {

class QtSocketFactory : public SocketFactory {
 public:
  // Qt buffers at most this many unread bytes per socket; beyond it the kernel's window pushes
  // back. It holds the largest FLAP frame (65535 + 6) with room to spare.
  static constexpr qint64 kReadBufferSize = 256 * 1024;
  // A closed connection with bytes still queued is kept this long at most to deliver them.
  static constexpr int kLingerMilliseconds = 30000;

  QtSocketFactory() = default;
  ~QtSocketFactory() override;
  QtSocketFactory(const QtSocketFactory&) = delete;
  QtSocketFactory& operator=(const QtSocketFactory&) = delete;

  std::unique_ptr<AsyncSocket> MakeSocket() override;
  std::unique_ptr<AsyncListener> MakeListener() override;

  // Connections closed by their owner that are still delivering their last bytes.
  static int LingeringCount();

  // Incoming connections between the listener's ConnectionRequest and a socket's Accept.
  RequestId AddPending(QTcpSocket* socket);
  QTcpSocket* TakePending(RequestId id);

 private:
  RequestId nextId_ = 0;
  std::map<RequestId, QTcpSocket*> pending_;
};

class QtSocket : public QObject, public AsyncSocket {
 public:
  explicit QtSocket(QtSocketFactory& factory);
  ~QtSocket() override;

  void SetObserver(SocketObserver* observer) override { observer_ = observer; }
  SocketState State() const override;
  std::uint16_t RemotePort() const override;
  std::string RemoteHostIP() const override;
  void Connect(const std::string& host, std::uint16_t port) override;
  void Accept(RequestId id) override;
  void SendData(BytesView data) override;
  std::size_t BytesPending() const override;
  std::size_t BytesAvailable() const override;
  Bytes PeekData(std::size_t maximum) override;
  Bytes GetData(std::size_t maximum) override;
  void Close() override;

  // Writes out what the sockets were given during the notification being handled. Called once a
  // notification returns, so a burst of relayed frames leaves in one write.
  static void FlushWrites();

 private:
  void Attach(QTcpSocket* socket);
  // Delivers a notification now, or from the event loop when one of this socket's own operations
  // is running (Qt may emit signals from inside a write or a connect).
  template <typename F>
  void Notify(F deliver);

  QtSocketFactory& factory_;
  SocketObserver* observer_ = nullptr;
  QTcpSocket* socket_ = nullptr;
  bool wasConnected_ = false;
  bool alternateLimit_ = false;
  int inCall_ = 0;
  std::uint64_t epoch_ = 0;  // bumped on Close, so queued notifications of the old link drop
  std::string targetIp_;
  std::uint16_t targetPort_ = 0;
};

}  // namespace quorvel
