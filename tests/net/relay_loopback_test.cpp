// The Qt socket adapter, and the relay on it, over real loopback sockets: what only the kernel
// shows. Half-closes and their order, resets, connect failures and the SOCKS codes they become,
// the adapter's read buffers and timers, the descriptor limit, and real SOCKS clients.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
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

const QByteArray kGranted("\x00\x5A", 2);

QByteArray Frame(int seq, int size, char fill = 'x') {
  return QByteArray::fromStdString("\x2A\x02" + IntToWord(seq) +
                                   WordLenString(Bytes(static_cast<std::size_t>(size), fill)));
}
QByteArray Socks5(const QByteArray& addressed, quint16 port) {
  return QByteArray::fromHex("050100050100") + addressed +
         QByteArray::fromStdString(IntToWord(port));
}
std::string HexOf(const QByteArray& bytes) {
  return bytes.toHex(' ').toStdString();
}

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
  auto server = Listen();
  QtSocketFactory factory;
  const auto socket = factory.MakeSocket();
  Taker taker(*socket);
  socket->Connect("127.0.0.1", server->serverPort());
  ASSERT_TRUE(Until([&] { return taker.connected && server->hasPendingConnections(); }));
  QTcpSocket* peer = server->nextPendingConnection();
  // The sizes in which `size` bytes arrive, all of them written to the kernel before the adapter
  // reads any.
  const auto arrivals = [&](qint64 size) {
    taker.arrivals.clear();
    taker.taken = 0;
    peer->write(QByteArray(size, 'b'));
    EXPECT_TRUE(peer->waitForBytesWritten(kReplyWaitMs));
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
  auto server = Listen();
  QtSocketFactory factory;
  const auto socket = factory.MakeSocket();
  Taker taker(*socket);
  socket->Connect("127.0.0.1", server->serverPort());
  ASSERT_TRUE(Until([&] { return taker.connected && server->hasPendingConnections(); }));
  Socket peer(server->nextPendingConnection());
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

// The relay on the Qt socket adapter, listening on loopback, with a host that forwards everything
// and keeps the event lines.
class RelayLoopbackTest : public ::testing::Test {
 protected:
  RelayLoopbackTest() { relay_.StartListening(0); }
  // A client whose SOCKS4 request to `server` the relay granted, and the server's end of it.
  struct Connection {
    RawSocket client, up;
  };
  Connection Connected(RawListener& server) {
    RawSocket client = RawSocket::To(relay_.ListeningPort());
    client.Send(Socks4Request(server));
    RawSocket up = server.Accept();
    EXPECT_EQ(client.Read(8).left(2), kGranted) << "the SOCKS reply";
    return {std::move(client), std::move(up)};
  }
  // How many of the relay's events begin with `prefix`.
  std::size_t Count(const std::string& prefix) const {
    return static_cast<std::size_t>(
        std::count_if(events_.begin(), events_.end(),
                      [&](const std::string& e) { return e.starts_with(prefix); }));
  }

  QtSocketFactory factory_;
  Relay relay_{factory_, &host_};
  std::vector<std::string> events_;
  ForwardingHost host_{relay_, [this](SlotIndex i, const std::string& text) {
                         events_.push_back(RelayEventLine(i, text));
                       }};
};

TEST_F(RelayLoopbackTest, EitherSideMayEndRightAfterItsLastByteAndStillReceiveUntilTheOtherEnds) {
  for (const bool serverFirst : {false, true}) {
    SCOPED_TRACE(serverFirst ? "the server ends first" : "the client ends first");
    auto server = Listen<RawListener>();
    RawSocket client = RawSocket::To(relay_.ListeningPort());
    // The client sends its request, a byte and its end in one go, before the relay has even
    // connected (as `printf ... | nc -N` does); or the server a byte and its end once connected.
    client.Send(Socks4Request(*server) + (serverFirst ? "" : "1"));
    if (!serverFirst) client.EndSending();
    RawSocket up = server->Accept();
    if (serverFirst) {
      up.Send("1");
      up.EndSending();
    }
    RawSocket& first = serverFirst ? up : client;
    RawSocket& second = serverFirst ? client : up;
    EXPECT_EQ(second.Read().mid(serverFirst ? 8 : 0), "1");  // behind the grant on the client
    EXPECT_TRUE(second.Ended());
    // The other direction still carries data, in bulk, until its own end.
    const QByteArray bulk(3 << 20, 'b');
    second.Send(bulk);
    second.EndSending();
    EXPECT_TRUE(first.Read(0, 10000).mid(serverFirst ? 0 : 8) == bulk);
    EXPECT_TRUE(first.Ended());
  }
  EXPECT_EQ(Count("Socket (1): Local Socket Closed"), 1u);
  EXPECT_EQ(Count("Socket (1): Remote Socket Closed"), 1u);
}

TEST_F(RelayLoopbackTest, AResetOfAnEstablishedConnectionIsLoggedAsAnErrorAndEndsTheOtherSide) {
  auto server = Listen<RawListener>();
  auto [client, up] = Connected(*server);
  up.Reset();
  EXPECT_EQ(client.Read(), "");
  EXPECT_TRUE(client.Ended());
  EXPECT_THAT(events_, Contains("Socket (1): Socket Error: Connection reset by peer (127.0.0.1)"));
  EXPECT_EQ(Count("Socket (1): Remote Socket Closed"), 0u);
}

TEST_F(RelayLoopbackTest, FramesOfAnySizeAreRenumberedAcrossTheReadBuffersUpToTheClose) {
  auto server = Listen(5190);
  Socket client = ConnectTo(relay_.ListeningPort(), Socks4Request(*server));
  ASSERT_EQ(Read(*client, 8).left(2), kGranted);
  ASSERT_TRUE(Until([&] { return server->hasPendingConnections(); }));
  QTcpSocket* up = server->nextPendingConnection();
  up->setReadBufferSize(65536);
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
  // Meanwhile the relay stops reading from the client once its queue to the server is full.
  std::size_t peak = 0;
  Until([&] { return (peak = std::max(peak, relay_.QueuedBytes())) > 64u << 20; }, 1000);
  EXPECT_GT(peak, Relay::kResumeBelow);
  EXPECT_LE(peak, Relay::kPauseAbove + QtSocketFactory::kReadBufferSize);
  up->setReadBufferSize(0);
  EXPECT_TRUE(Read(*up, 0, 10000) == expected);
}

TEST_F(RelayLoopbackTest, AtTheDescriptorLimitNewClientsWaitAndAreServedOnceDescriptorsFree) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
#endif
  auto server = Listen<RawListener>();
  auto [before, beforeUp] = Connected(*server);
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
  waiting.Send(Socks4Request(*server));
  const std::string failure = "Socket (0): Remote Socket Failure: ";
  EXPECT_TRUE(Until([&] { return Count(failure) > 0; }));
  Until([] { return false; }, 700);
  EXPECT_EQ(Count(failure), 1u);
  EXPECT_EQ(waiting.Read(0, 0), "");
  EXPECT_FALSE(waiting.Ended());
  before.Send("still here");  // the connection made before keeps working
  EXPECT_EQ(beforeUp.Read(10), "still here");
  for (int fd : hog) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  // Descriptors are free again: the waiting client is served.
  EXPECT_EQ(waiting.Read(8).left(2), kGranted);
  RawSocket waitingUp = server->Accept();
  waitingUp.Send("back");
  EXPECT_EQ(waiting.Read(4), "back");
}

TEST_F(RelayLoopbackTest, AnIPv6ServerIsReachedAndTheGrantCarriesTheBoundAddress) {
  RawListener server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHostIPv6, 0));
  RawSocket client = RawSocket::To(relay_.ListeningPort());
  // The handshake and the first data in one go.
  client.Send(
      Socks5(QByteArray::fromHex("04") + QByteArray(15, '\0') + '\x01', server.serverPort()) +
      "ping");
  RawSocket up = server.Accept();
  EXPECT_EQ(up.Read(4), "ping");
  // The greeting's answer, then the grant with ::1 and the relay's own port.
  EXPECT_EQ(HexOf(client.Read(2 + 22).left(2 + 20)),
            "05 00 05 00 00 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01");
  up.Send("pong");
  EXPECT_EQ(client.Read(4), "pong");
  EXPECT_THAT(events_, Contains("Socket (1): Connecting: ::1"));
}

TEST_F(RelayLoopbackTest, FailedConnectsAreAnsweredWithTheirCode) {
  const quint16 refused = Listen()->serverPort();  // nothing listens there any more
  for (const auto& [request, code] :
       {std::pair{Socks5(QByteArray::fromHex("017F000001"), refused), "05"},
        std::pair{Socks5(QByteArray::fromHex("03") + char(9) + "bad..name", 80), "04"}}) {
    SCOPED_TRACE(code);  // 05 refused, 04 a name that cannot resolve
    RawSocket client = RawSocket::To(relay_.ListeningPort());
    client.Send(request);
    // The whole reply, then the end of the connection.
    EXPECT_EQ(HexOf(client.Read()), "05 00 05 " + std::string(code) + " 00 01 00 00 00 00 00 00");
    EXPECT_TRUE(client.Ended());
  }
  EXPECT_THAT(events_, Contains("Socket (1): Socket Error: Connection refused (127.0.0.1)"));
}

// curl, in each of its SOCKS modes, fetches a page from a test HTTP server (skipped where curl is
// not installed); a request never completed is timed out on the adapter's timer first.
TEST_F(RelayLoopbackTest, RequestsNotCompletedInTimeAreClosedAndCurlFetchesInEachSocksMode) {
  relay_.SetRequestTimeout(1500);
  Socket idle = ConnectTo(relay_.ListeningPort(), QByteArray("\x04\x01", 2));
  EXPECT_EQ(Read(*idle, 0, 8000), "");
  EXPECT_EQ(idle->state(), QAbstractSocket::UnconnectedState);
  EXPECT_THAT(events_, Contains("Socket (1): Request Timed Out"));

  const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
  if (curl.isEmpty()) GTEST_SKIP() << "curl is not installed";
  auto pages = Listen<RawListener>();
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy"}) {
    environment.remove(QString::fromLatin1(name));
  }
  for (const auto& [mode, host] :
       {std::pair{"--socks4", "127.0.0.1"}, std::pair{"--socks4a", "localhost"},
        std::pair{"--socks5", "127.0.0.1"}, std::pair{"--socks5-hostname", "localhost"}}) {
    SCOPED_TRACE(mode);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(curl, {"--silent", "--show-error", "--max-time", "8", QString::fromLatin1(mode),
                         QStringLiteral("127.0.0.1:%1").arg(relay_.ListeningPort()),
                         QStringLiteral("http://%1:%2/").arg(host).arg(pages->serverPort())});
    RawSocket page = pages->Accept();
    QByteArray request;
    EXPECT_TRUE(Until([&] { return (request += page.Read(0, 0)).contains("\r\n\r\n"); }));
    page.Send("HTTP/1.0 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nhello\n");
    page = RawSocket();
    EXPECT_TRUE(Until([&] { return process.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(process.readAllStandardOutput(), "hello\n");
  }
  EXPECT_THAT(events_, Contains(::testing::EndsWith("): Connecting: localhost")));
}

}  // namespace
}  // namespace quorvel::testing
