#pragma once
// The listener of the asynchronous socket interface over Qt Network: binds and listens with
// QTcpServer, accepts on its own notifier, and hands each connection to a QtSocket by request id.

#include <QObject>
#include <QSocketNotifier>
#include <QTcpServer>
#include <cstdint>
#include <memory>
#include <string>

#include "net/qt_socket.h"
#include "proxy/async_socket.h"

namespace quorvel {

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
  int spareFd_ = -1;
};

}  // namespace quorvel
