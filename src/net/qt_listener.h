#pragma once
// The listener of the asynchronous socket interface over Qt Network: binds and listens with
// QTcpServer, accepts on its own notifier, and hands each connection's descriptor to a QtSocket by
// request id.

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
  void Rearm();

  QtSocketFactory& factory_;
  ListenerObserver* observer_ = nullptr;
  // Binds and listens; connections are accepted here rather than by QTcpServer, so that running
  // out of descriptors is reported and handled instead of retried in a busy loop.
  QTcpServer server_;
  std::unique_ptr<QSocketNotifier> notifier_;
  // Accepting failed and has not succeeded since: told once, then retried quietly. Clients wait
  // in the backlog meanwhile, and are served once descriptors are free again (the request
  // timeout frees those held by idle clients).
  bool failing_ = false;
};

}  // namespace quorvel
