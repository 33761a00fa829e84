#pragma once
// The asynchronous socket interface over Qt Network (QTcpSocket, QTcpServer), on the Qt event
// loop of the thread that creates the sockets.

#include <QObject>
#include <QSocketNotifier>
#include <QTcpServer>
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

  std::unique_ptr<AsyncSocket> CreateSocket() override;
  std::unique_ptr<AsyncListener> CreateListener() override;

  // Connections closed by their owner that are still delivering their last bytes.
  static int LingeringCount();

  // Incoming connections between the listener's ConnectionRequest and a socket's Accept.
  RequestId AddPending(QTcpSocket* socket);
  QTcpSocket* TakePending(RequestId id);

 private:
  RequestId next_id_ = 0;
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

 private:
  void Attach(QTcpSocket* socket);
  // Delivers a notification now, or from the event loop when one of this socket's own operations
  // is running (Qt may emit signals from inside a write or a connect).
  template <typename F>
  void Notify(F deliver);

  QtSocketFactory& factory_;
  SocketObserver* observer_ = nullptr;
  QTcpSocket* socket_ = nullptr;
  bool was_connected_ = false;
  int in_call_ = 0;
  std::uint64_t epoch_ = 0;  // bumped on Close, so queued notifications of the old link drop
  std::string target_ip_;
  std::uint16_t target_port_ = 0;
};

class QtListener : public QObject, public AsyncListener {
 public:
  explicit QtListener(QtSocketFactory& factory);
  ~QtListener() override;

  void SetObserver(ListenerObserver* observer) override { observer_ = observer; }
  void Listen(const std::string& address, std::uint16_t port) override;
  void Close() override;
  bool IsListening() const override { return server_.isListening(); }
  std::uint16_t LocalPort() const override { return server_.serverPort(); }

 private:
  void OnReadable();
  void AcceptFailed(int error);

  QtSocketFactory& factory_;
  ListenerObserver* observer_ = nullptr;
  // Binds and listens; connections are accepted here rather than by QTcpServer, so that running
  // out of descriptors is reported and handled instead of retried in a busy loop.
  QTcpServer server_;
  std::unique_ptr<QSocketNotifier> notifier_;
  // A descriptor held in reserve: when accepting fails for lack of descriptors, it is released
  // for a moment to take the waiting connection and close it, so the listener keeps serving.
  int spare_fd_ = -1;
};

}  // namespace quorvel
