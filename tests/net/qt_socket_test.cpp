// The Qt socket adapter on its own, over loopback.

#include "net/qt_socket.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QTcpServer>
#include <vector>

#include "loopback.h"

namespace quorvel {
namespace {

using testing::Until;

// Takes every byte as it arrives and remembers the size of each arrival.
struct Taker : SocketObserver {
  explicit Taker(AsyncSocket& s) : socket(s) { socket.SetObserver(this); }
  void OnConnect() override { connected = true; }
  void OnDataArrival(std::size_t bytesTotal) override {
    arrivals.push_back(bytesTotal);
    taken += bytesTotal;
    socket.Discard(bytesTotal);
  }
  void OnClose() override {}
  void OnError(const std::string&) override {}
  void OnSendProgress(std::size_t) override {}
  AsyncSocket& socket;
  bool connected = false;
  std::vector<std::size_t> arrivals;
  std::size_t taken = 0;
};

TEST(QtSocket, ReadBufferGrowsForABurstAndShrinksBackWhenTheConnectionGoesQuiet) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
  QtSocketFactory factory;
  const auto socket = factory.MakeSocket();
  Taker taker(*socket);
  socket->Connect("127.0.0.1", server.serverPort());
  ASSERT_TRUE(Until([&] { return taker.connected && server.hasPendingConnections(); }));
  const testing::Socket peer(server.nextPendingConnection());
  // The sizes in which `size` bytes arrive, all of them written to the kernel before the adapter
  // reads any.
  const auto arrivals = [&](qint64 size) {
    taker.arrivals.clear();
    taker.taken = 0;
    peer->write(QByteArray(size, 'b'));
    EXPECT_TRUE(peer->waitForBytesWritten(testing::kReplyWaitMs));
    EXPECT_TRUE(Until([&] { return taker.taken == static_cast<std::size_t>(size); }));
    return taker.arrivals;
  };
  const std::size_t first = 16 * 1024;
  // The first read fills the first buffer, which doubles for the next: 16 + 32 + 16 KiB.
  EXPECT_EQ(arrivals(64 * 1024), (std::vector<std::size_t>{first, 2 * first, first}));
  // Each small read halves the empty 64 KiB buffer, down to the first size...
  for (int k = 0; k < 3; ++k) EXPECT_EQ(arrivals(10), std::vector<std::size_t>{10});
  // ...from which the next burst starts again.
  EXPECT_EQ(arrivals(64 * 1024).front(), first);
}

// The CPU time this thread has used, in milliseconds.
double ThreadCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  const auto ms = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
  };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

TEST(QtSocket, AClosedConnectionLingersWithItsBytesAndTheDrainAtExitSleepsWhileItWaits) {
  ASSERT_TRUE(Until([] { return QtSocketFactory::LingeringCount() == 0; }));  // earlier tests'
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
  QtSocketFactory factory;
  const auto socket = factory.MakeSocket();
  Taker taker(*socket);
  socket->Connect("127.0.0.1", server.serverPort());
  ASSERT_TRUE(Until([&] { return taker.connected && server.hasPendingConnections(); }));
  testing::Socket peer(server.nextPendingConnection());
  peer->setReadBufferSize(1);  // a peer that stops reading: the kernel's buffers fill up
  socket->SendData(Bytes(32 * 1024 * 1024, 'q'));
  socket->Close();
  ASSERT_EQ(QtSocketFactory::LingeringCount(), 1);

  const double before = ThreadCpuMs();
  QtSocketFactory::DrainLingering(600);
  EXPECT_EQ(QtSocketFactory::LingeringCount(), 1);  // nothing was read, so nothing is dropped
  EXPECT_LT(ThreadCpuMs() - before, 150) << "the drain spins instead of waiting for events";

  // Once the peer reads, the rest arrives and the connection ends.
  qint64 got = 0;
  peer->setReadBufferSize(0);
  ASSERT_TRUE(Until(
      [&] {
        got += peer->readAll().size();
        return QtSocketFactory::LingeringCount() == 0 &&
               peer->state() != QAbstractSocket::ConnectedState;
      },
      10000));
  got += peer->readAll().size();
  EXPECT_EQ(got, 32 * 1024 * 1024);
}

}  // namespace
}  // namespace quorvel
