// The Qt socket adapter, and the relay on it, over real loopback sockets: what only the kernel
// shows. Half-closes and their order, resets, connect failures and the SOCKS codes they become,
// the adapter's read buffers and timers, the descriptor limit, and real SOCKS clients. All run on
// one Qt event loop, which the waits drive.

#include <gmock/gmock.h>
#include <sys/resource.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <csignal>
#include <ctime>

#include "loopback.h"
#include "net/qt_socket.h"
#include "proxy/relay_rig.h"

namespace quorvel::testing {
namespace {

using ::testing::Contains;

// Takes every byte as it arrives and remembers the size of each arrival.
struct Taker : SocketObserver {
  void OnConnect() override { connected = true; }
  void OnDataArrival(std::size_t bytesTotal) override {
    arrivals.push_back(bytesTotal);
    taken += bytesTotal;
    socket->Discard(bytesTotal);
  }
  void OnClose() override {}
  void OnError(const std::string&) override {}
  void OnSendProgress(std::size_t) override {}

  std::unique_ptr<QTcpServer> server = Listen();
  QtSocketFactory factory;
  std::unique_ptr<AsyncSocket> socket = factory.MakeSocket();
  bool connected = false;
  std::vector<std::size_t> arrivals;
  std::size_t taken = 0;
  // The adapter's socket connected to the test server; the server's end.
  QTcpSocket* Connect() {
    socket->SetObserver(this);
    socket->Connect("127.0.0.1", server->serverPort());
    EXPECT_TRUE(Until([&] { return connected && server->hasPendingConnections(); }));
    return server->nextPendingConnection();
  }
};

TEST(QtSocket, ReadBufferGrowsForABurstAndShrinksBackWhenTheConnectionGoesQuiet) {
  Taker taker;
  QTcpSocket* peer = taker.Connect();
  ASSERT_TRUE(peer);
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

TEST(QtSocket, AClosedConnectionLingersWithItsBytesAndTheDrainAtExitSleepsWhileItWaits) {
  ASSERT_TRUE(Until([] { return QtSocketFactory::LingeringCount() == 0; }));  // earlier tests'
  Taker taker;
  Socket peer(taker.Connect());
  ASSERT_TRUE(peer);
  peer->setReadBufferSize(1);  // a peer that stops reading: the kernel's buffers fill up
  taker.socket->SendData(Bytes(32 * 1024 * 1024, 'q'));
  taker.socket->Close();
  ASSERT_EQ(QtSocketFactory::LingeringCount(), 1);

  const std::clock_t before = std::clock();  // the CPU time of this process
  QtSocketFactory::DrainLingering(600);
  EXPECT_EQ(QtSocketFactory::LingeringCount(), 1);  // nothing was read, so nothing is dropped
  EXPECT_LT(std::clock() - before, CLOCKS_PER_SEC * 15 / 100)
      << "the drain spins instead of waiting for events";

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
  RawSocket Client(std::string_view request) {
    RawSocket client = RawSocket::To(relay_.ListeningPort());
    client.Send(request);
    return client;
  }
  // A client whose SOCKS4 request to `server` the relay granted, and the server's end of it.
  std::pair<RawSocket, RawSocket> Connected(RawListener& server) {
    RawSocket client = Client(Socks4Request(server).toStdString());
    RawSocket up = server.Accept();
    EXPECT_EQ(ToHex(client.Read(8).substr(0, 2)), "00 5A") << "the SOCKS reply";
    return {std::move(client), std::move(up)};
  }
  // How many of the relay's events begin with `prefix`.
  std::size_t Count(const std::string& prefix) const {
    return static_cast<std::size_t>(std::ranges::count_if(
        events_, [&](const std::string& e) { return e.starts_with(prefix); }));
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
    // The client sends its request, a byte and its end in one go, before the relay has even
    // connected (as `printf ... | nc -N` does); or the server a byte and its end once connected.
    RawSocket client = Client(Socks4Request(*server).toStdString() + (serverFirst ? "" : "1"));
    if (!serverFirst) client.EndSending();
    RawSocket up = server->Accept();
    if (serverFirst) {
      up.Send("1");
      up.EndSending();
    }
    RawSocket& first = serverFirst ? up : client;
    RawSocket& second = serverFirst ? client : up;
    EXPECT_EQ(second.Read().substr(serverFirst ? 8 : 0), "1");  // behind the grant on the client
    EXPECT_TRUE(second.Ended());
    // The other direction still carries data, in bulk, until its own end.
    const Bytes bulk(3 << 20, 'b');
    second.Send(bulk);
    second.EndSending();
    EXPECT_TRUE(first.Read(0, 10000).substr(serverFirst ? 0 : 8) == bulk);
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
  auto server = Listen<RawListener>(5190);
  Socket client = ConnectTo(relay_.ListeningPort(), Socks4Request(*server));
  ASSERT_EQ(ToHex(Read(*client, 8).left(2).toStdString()), "00 5A");
  RawSocket up = server->Accept();
  // The largest frame, then far more than the relay buffers in frames whose boundaries fall
  // anywhere in its buffer, while the server reads nothing for a while; the client closes as
  // soon as all is written.
  Bytes sent = Frame(0x9999, 65535, 't'), expected = Frame(1, 65535, 't');
  for (int k = 0; k < 150000; ++k) {
    const auto size = static_cast<std::size_t>(k % 97);
    sent += Frame(0x7777, size, static_cast<char>('a' + k % 26));
    expected += Frame((k + 2) % 65535, size, static_cast<char>('a' + k % 26));
  }
  client->write(QByteArray::fromStdString(sent));
  client->disconnectFromHost();
  // Meanwhile the relay stops reading from the client once its queue to the server is full.
  std::size_t peak = 0;
  Until([&] { return (peak = std::max(peak, relay_.QueuedBytes())) > 64u << 20; }, 1000);
  EXPECT_GT(peak, Relay::kResumeBelow);
  EXPECT_LE(peak, Relay::kPauseAbove + QtSocketFactory::kReadBufferSize);
  EXPECT_TRUE(up.Read(0, 10000) == expected);
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
  RawSocket waiting = Client(Socks4Request(*server).toStdString());
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
  EXPECT_EQ(ToHex(waiting.Read(8).substr(0, 2)), "00 5A");
  RawSocket waitingUp = server->Accept();
  waitingUp.Send("back");
  EXPECT_EQ(waiting.Read(4), "back");
}

// The SOCKS5 reply over real sockets: a grant carrying the address the relay bound for an IPv6
// server, or the code a failed connect maps to, then the end of the connection.
TEST_F(RelayLoopbackTest, Socks5RepliesCarryTheBoundIPv6AddressOrTheCodeOfTheFailedConnect) {
  RawListener v6;
  ASSERT_TRUE(v6.listen(QHostAddress::LocalHostIPv6, 0));
  const quint16 refused = Listen()->serverPort();  // nothing listens there any more
  const std::string kFailed = " 00 01 00 00 00 00 00 00";
  const struct {
    const char* name;
    Bytes destination;
    std::string reply;  // up to the grant's port
    bool reached = false;
  } cases[] = {
      {"::1", Hex("04") + Bytes(15, '\0') + '\x01' + IntToWord(v6.serverPort()),
       "05 00 05 00 00 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01", true},
      {"refused", Hex("01 7F 00 00 01") + IntToWord(refused), "05 00 05 05" + kFailed},
      {"a name that cannot resolve", Hex("03 09") + "bad..name" + Hex("00 50"),
       "05 00 05 04" + kFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawSocket client = Client(Hex("05 01 00 05 01 00") + c.destination + (c.reached ? "ping" : ""));
    if (c.reached) {
      RawSocket up = v6.Accept();
      EXPECT_EQ(up.Read(4), "ping");
      up.Send("pong");
    }
    const std::string reply = ToHex(client.Read());
    EXPECT_EQ(reply.substr(0, c.reply.size()), c.reply);
    EXPECT_TRUE(reply.ends_with(c.reached ? ToHex("pong") : c.reply)) << reply;
  }
  EXPECT_THAT(events_,
              Contains(::testing::EndsWith(": Socket Error: Connection refused (127.0.0.1)")));
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
  for (const auto& [mode, host] :
       {std::pair{"--socks4", "127.0.0.1"}, std::pair{"--socks4a", "localhost"},
        std::pair{"--socks5", "127.0.0.1"}, std::pair{"--socks5-hostname", "localhost"}}) {
    SCOPED_TRACE(mode);
    QProcess process;  // --noproxy "": no proxy setting of the environment bypasses this one
    process.start(curl, {"--silent", "--show-error", "--max-time", "8", "--noproxy", "",
                         QString::fromLatin1(mode),
                         QStringLiteral("127.0.0.1:%1").arg(relay_.ListeningPort()),
                         QStringLiteral("http://%1:%2/").arg(host).arg(pages->serverPort())});
    RawSocket page = pages->Accept();
    std::string request;
    EXPECT_TRUE(
        Until([&] { return (request += page.Read(0, 0)).find("\r\n\r\n") != std::string::npos; }));
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

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTimer wake;  // wakes the event loop regularly, so that waits check their conditions
  wake.start(10);
  std::signal(SIGPIPE, SIG_IGN);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
