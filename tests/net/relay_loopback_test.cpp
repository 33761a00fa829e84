// The relay on the Qt socket adapter over real loopback sockets, with its SOCKS4 test clients and
// test servers on the same event loop.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "loopback.h"
#include "net/qt_socket.h"
#include "proxy/forwarding_host.h"
#include "proxy/relay.h"
#include "proxy/relay_events.h"

namespace quorvel::testing {
namespace {

using ::testing::Contains;
using ::testing::StartsWith;

QByteArray Frame(int seq, int size, char fill = 'x') {
  return QByteArray::fromStdString("\x2A\x02" + IntToWord(seq) +
                                   WordLenString(Bytes(static_cast<std::size_t>(size), fill)));
}

// The server's next connection, reading at most `buffer` bytes ahead of the test (0: no limit);
// null when none comes.
QTcpSocket* Accept(QTcpServer& server, qint64 buffer = 0) {
  EXPECT_TRUE(Until([&] { return server.hasPendingConnections(); })) << "no connection came";
  QTcpSocket* s = server.nextPendingConnection();
  if (s != nullptr) s->setReadBufferSize(buffer);
  return s;
}

class RelayLoopbackTest : public ::testing::Test {
 protected:
  RelayLoopbackTest() { relay_.StartListening(0); }
  // A client connected through the relay to `server`; null, the reply reported, unless the relay
  // granted the request.
  Socket Through(const QTcpServer& server) {
    const QByteArray request = Socks4Request(server);
    Socket client = ConnectTo(relay_.ListeningPort(), request);
    const QByteArray reply = Read(*client, 8);
    const QByteArray granted = QByteArray("\x00\x5A", 2) + request.mid(2, 6);
    EXPECT_EQ(reply.toHex(' ').toStdString(), granted.toHex(' ').toStdString()) << "the SOCKS reply";
    return reply == granted ? std::move(client) : nullptr;
  }

  QtSocketFactory factory_;
  Relay relay_{factory_, &host_};
  std::vector<std::string> events_;
  ForwardingHost host_{relay_, [this](SlotIndex i, const std::string& text) {
                         events_.push_back(RelayEventLine(i, text));
                       }};
};

TEST_F(RelayLoopbackTest, OscarFramesAreRenumberedAndLongBurstsKeepFlowingUpToTheClose) {
  auto server = Listen(5190);
  Socket client = Through(*server);
  ASSERT_TRUE(client);
  QTcpSocket* up = Accept(*server, 65536);
  ASSERT_TRUE(up);
  up->write(Frame(0x9999, 5, 's') + Frame(0x9999, 65535, 't'));
  EXPECT_TRUE(Read(*client, 11 + 65541) == Frame(1, 5, 's') + Frame(2, 65535, 't'));

  // Far more than the relay buffers, in frames whose boundaries fall anywhere in its buffer, while
  // the server reads nothing for a while; the client closes as soon as all is written.
  QByteArray sent, expected;
  for (int k = 0; k < 150000; ++k) {
    sent += Frame(0x7777, k % 97, static_cast<char>('a' + k % 26));
    expected += Frame((k + 1) % 65535, k % 97, static_cast<char>('a' + k % 26));
  }
  client->write(sent);
  client->disconnectFromHost();
  Until([] { return false; }, 1000);
  up->setReadBufferSize(0);
  EXPECT_TRUE(Read(*up, 0, 10000) == expected);
}

TEST_F(RelayLoopbackTest, SlowReaderHoldsBackTheServerAndThenGetsEverythingUpToTheClose) {
  auto server = Listen();
  Socket client = Through(*server);
  ASSERT_TRUE(client);
  client->setReadBufferSize(65536);
  QTcpSocket* up = Accept(*server);
  ASSERT_TRUE(up);
  QByteArray sent;
  for (int k = 0; sent.size() < (32 << 20); ++k) sent += QByteArray::number(k) + ',';
  up->write(sent);
  up->disconnectFromHost();
  // Nothing is read for a while: the server is held back, and the relay's queue stays bounded.
  Until([] { return false; }, 1500);
  EXPECT_GT(up->bytesToWrite(), 0);
  EXPECT_LE(relay_.ClientSocket(1).BytesPending(),
            Relay::kPauseAbove + 2 * QtSocketFactory::kReadBufferSize);
  client->setReadBufferSize(0);
  EXPECT_TRUE(Read(*client, 0, 10000) == sent);
}

TEST_F(RelayLoopbackTest, RefusedConnectClosesTheClientWithoutAReply) {
  Socket client = ConnectTo(relay_.ListeningPort(), Socks4Request(*Listen()));  // closed at once
  EXPECT_EQ(Read(*client), "");
  EXPECT_THAT(events_, Contains("Socket (1): Socket Error: Connection refused (127.0.0.1)"));
}

TEST_F(RelayLoopbackTest, RunningOutOfDescriptorsFailsOneClientAndSparesTheRest) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
#endif
  auto server = Listen();
  Socket a = Through(*server);
  ASSERT_TRUE(a);
  QTcpSocket* aUp = Accept(*server);
  ASSERT_TRUE(aUp);
  rlimit saved{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  const rlimit low{std::min<rlim_t>(saved.rlim_cur, 512), saved.rlim_max};
  ::setrlimit(RLIMIT_NOFILE, &low);
  std::vector<int> hog;  // every free descriptor, given back one at a time
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) hog.push_back(fd);
  std::size_t given = 0;
  // One free: the client takes it, the relay cannot accept and closes the client unserved.
  ::close(hog[given++]);
  EXPECT_EQ(Read(*ConnectTo(relay_.ListeningPort())), "");
  EXPECT_THAT(events_, Contains(StartsWith("Socket (0): Remote Socket Failure: ")));
  // Two free: the relay accepts the client but cannot open the server connection.
  ::close(hog[given++]);
  EXPECT_EQ(Read(*ConnectTo(relay_.ListeningPort(), Socks4Request(*server))), "");
  EXPECT_THAT(events_, Contains(StartsWith("Socket (2): Socket Error: ")));
  a->write("still here");  // the connection made before keeps working
  EXPECT_EQ(Read(*aUp, 10), "still here");
  while (given < hog.size()) ::close(hog[given++]);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  Socket d = Through(*server);
  ASSERT_TRUE(d);
  QTcpSocket* dUp = Accept(*server);
  ASSERT_TRUE(dUp);
  dUp->write("back");
  EXPECT_EQ(Read(*d, 4), "back");
}

}  // namespace
}  // namespace quorvel::testing
