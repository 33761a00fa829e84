// The Qt socket adapter on its own, over loopback.

#include <gtest/gtest.h>

#include <QTcpServer>
#include <algorithm>

#include "loopback.h"
#include "net/qt_socket.h"

namespace quorvel {
namespace {

using testing::Until;

// Takes every byte as it arrives and remembers the largest arrival.
struct Taker : SocketObserver {
  explicit Taker(AsyncSocket& s) : socket(s) { socket.SetObserver(this); }
  void OnConnect() override { connected = true; }
  void OnDataArrival(std::size_t bytesTotal) override {
    largest = std::max(largest, bytesTotal);
    taken += bytesTotal;
    socket.Discard(bytesTotal);
  }
  void OnClose() override {}
  void OnError(const std::string&) override {}
  void OnSendProgress(std::size_t) override {}
  AsyncSocket& socket;
  bool connected = false;
  std::size_t largest = 0;
  std::size_t taken = 0;
};

TEST(QtSocket, ABusyConnectionReadsInPiecesLargerThanItsFirstBuffer) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
  QtSocketFactory factory;
  const auto socket = factory.MakeSocket();
  Taker taker(*socket);
  socket->Connect("127.0.0.1", server.serverPort());
  ASSERT_TRUE(Until([&] { return taker.connected && server.hasPendingConnections(); }));
  const testing::Socket peer(server.nextPendingConnection());
  // 64 KiB wait in the kernel before the adapter reads any of it: the first read fills the first
  // buffer, and the buffer grows for the next.
  const qint64 total = 64 * 1024;
  peer->write(QByteArray(total, 'b'));
  ASSERT_TRUE(peer->waitForBytesWritten(testing::kReplyWaitMs));
  ASSERT_TRUE(Until([&] { return taker.taken == static_cast<std::size_t>(total); }));
  EXPECT_GT(taker.largest, 16u * 1024);
}

}  // namespace
}  // namespace quorvel
