// The relay on the Qt socket adapter over real loopback sockets: frames through the adapter's own
// buffers, and what happens at the descriptor limit.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "relay_fixture.h"

namespace quorvel::testing {
namespace {

QByteArray Frame(int seq, int size, char fill = 'x') {
  return QByteArray::fromStdString("\x2A\x02" + IntToWord(seq) +
                                   WordLenString(Bytes(static_cast<std::size_t>(size), fill)));
}

TEST_F(RelayLoopbackTest, FramesOfAnySizeAreRenumberedAcrossTheReadBuffersUpToTheClose) {
  auto server = Listen(5190);
  Socket client = ConnectTo(relay_.ListeningPort(), Socks4Request(*server));
  ASSERT_EQ(Read(*client, 8).left(2), QByteArray("\x00\x5A", 2));
  QTcpSocket* up = Accept(*server, 65536);
  ASSERT_TRUE(up);
  // The largest frame, then far more than the relay buffers in frames whose boundaries fall
  // anywhere in its buffer, while the server reads nothing for a while; the client closes as
  // soon as all is written.
  QByteArray sent = Frame(0x9999, 65535, 't'), expected = Frame(1, 65535, 't');
  for (int k = 0; k < 150000; ++k) {
    sent += Frame(0x7777, k % 97, static_cast<char>('a' + k % 26));
    expected += Frame((k + 2) % 65535, k % 97, static_cast<char>('a' + k % 26));
  }
  client->write(sent);
  client->disconnectFromHost();
  Until([] { return false; }, 1000);
  up->setReadBufferSize(0);
  EXPECT_TRUE(Read(*up, 0, 10000) == expected);
}

TEST_F(RelayLoopbackTest, AtTheDescriptorLimitNewClientsWaitAndAreServedOnceDescriptorsFree) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
#endif
  RawListener server;
  auto [before, beforeUp] = Connected(server);
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
  RawSocket waiting = RawSocket::To(relay_.ListeningPort());
  waiting.Send(Socks4Request(server.Host(), server.Port()));
  const std::string failure = "Socket (0): Remote Socket Failure: ";
  EXPECT_TRUE(Until([&] { return !EventsStartingWith(failure).empty(); }));
  Until([] { return false; }, 700);
  EXPECT_EQ(EventsStartingWith(failure).size(), 1u);
  EXPECT_EQ(waiting.Read(0, 0), "");
  EXPECT_FALSE(waiting.Ended());
  before.Send("still here");  // the connection made before keeps working
  EXPECT_EQ(beforeUp.Read(10), "still here");
  for (int fd : hog) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  // Descriptors are free again: the waiting client is served.
  EXPECT_EQ(waiting.Read(8).left(2), QByteArray("\x00\x5A", 2));
  RawSocket waitingUp = server.Accept();
  waitingUp.Send("back");
  EXPECT_EQ(waiting.Read(4), "back");
}

}  // namespace
}  // namespace quorvel::testing
