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

#include "net/qt_socket.h"
#include "proxy/forwarding_host.h"
#include "proxy/relay.h"
#include "proxy/relay_events.h"
#include "relay_fixture.h"

namespace quorvel::testing {
namespace {

using ::testing::Contains;
using ::testing::StartsWith;

QByteArray Frame(int seq, int size, char fill = 'x') {
  return QByteArray::fromStdString("\x2A\x02" + IntToWord(seq) +
                                   WordLenString(Bytes(static_cast<std::size_t>(size), fill)));
}

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

TEST_F(RelayLoopbackTest, AtTheDescriptorLimitNewClientsWaitAndAreServedOnceDescriptorsFree) {
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
  std::vector<int> hog;  // every free descriptor
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) hog.push_back(fd);
  // One free: the client takes it, and the relay cannot accept it. The client is neither taken
  // nor turned away, and the failure is told once however often accepting is retried.
  ::close(hog.back());
  hog.pop_back();
  Socket waiting = ConnectTo(relay_.ListeningPort(), Socks4Request(*server));
  EXPECT_TRUE(
      Until([&] { return !EventsStartingWith("Socket (0): Remote Socket Failure: ").empty(); }));
  Until([] { return false; }, 700);
  EXPECT_EQ(EventsStartingWith("Socket (0): Remote Socket Failure: ").size(), 1u);
  EXPECT_EQ(waiting->state(), QAbstractSocket::ConnectedState);
  EXPECT_EQ(waiting->bytesAvailable(), 0);
  a->write("still here");  // the connection made before keeps working
  EXPECT_EQ(Read(*aUp, 10), "still here");
  for (int fd : hog) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  // Descriptors are free again: the waiting client is served.
  EXPECT_EQ(Read(*waiting, 8).toHex(' ').toStdString().substr(0, 5), "00 5a");
  QTcpSocket* waitingUp = Accept(*server);
  ASSERT_TRUE(waitingUp);
  waitingUp->write("back");
  EXPECT_EQ(Read(*waiting, 4), "back");
}

}  // namespace
}  // namespace quorvel::testing
