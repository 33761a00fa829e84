// The relay on the Qt event loop over real loopback sockets, with its SOCKS4 test clients and test
// servers on the same loop; then the headless program, run as a child process.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <functional>
#include <memory>

#include "proxy/aim_proxy.h"
#include "proxy/forwarding_host.h"
#include "net/qt_socket.h"
#include "wire/word.h"

namespace quorvel {
namespace {

using ::testing::Contains;
using ::testing::StartsWith;
using Socket = std::unique_ptr<QTcpSocket>;

// Runs the event loop until `done` holds or `ms` pass; returns whether it holds.
bool Until(const std::function<bool()>& done, int ms = 60000) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);  // main's timer ticks
  }
  return done();
}

// `count` bytes from `s`, or (count 0) everything until the peer closes.
QByteArray Read(QTcpSocket& s, qint64 count = 0) {
  QByteArray got;
  Until([&] {
    got += count > 0 ? s.read(count - got.size()) : s.readAll();
    return count > 0 ? got.size() == count : s.state() == QAbstractSocket::UnconnectedState;
  });
  return got;
}

QByteArray Frame(int seq, int size, char fill = 'x') {
  return QByteArray::fromStdString("\x2A\x02" + IntToWord(seq) +
                                   WordLenString(Bytes(static_cast<std::size_t>(size), fill)));
}
QByteArray Socks4Request(const QTcpServer& to) {
  const quint32 ip = to.serverAddress().toIPv4Address();
  return QByteArray::fromStdString("\x04\x01" + IntToWord(to.serverPort()) +
                                   IntToWord(static_cast<int>(ip >> 16)) +
                                   IntToWord(static_cast<int>(ip & 0xFFFF)) + "tester" + '\0');
}

// A test server on 127.0.0.1 at a free port, or at `port` (5190) on the first 127.0.0.x where that
// port is free.
std::unique_ptr<QTcpServer> Listen(quint16 port = 0) {
  auto server = std::make_unique<QTcpServer>();
  for (int x = port == 0 ? 1 : 2; x < 250 && !server->isListening(); ++x) {
    server->listen(QHostAddress(QStringLiteral("127.0.0.%1").arg(x)), port);
  }
  return server;
}
// The server's next connection, reading at most `buffer` bytes ahead of the test (0: no limit).
QTcpSocket& Accept(QTcpServer& server, qint64 buffer = 0) {
  EXPECT_TRUE(Until([&] { return server.hasPendingConnections(); }, 5000));
  QTcpSocket* s = server.nextPendingConnection();
  s->setReadBufferSize(buffer);
  return *s;
}
Socket ConnectTo(quint16 port, const QByteArray& request = {}) {
  auto s = std::make_unique<QTcpSocket>();
  s->connectToHost(QHostAddress::LocalHost, port);
  s->write(request);
  return s;
}

class RelayTest : public ::testing::Test {
 protected:
  RelayTest() { proxy_.StartListen(0); }
  // A client connected through the relay to `server`, the grant checked.
  Socket Through(const QTcpServer& server) {
    const QByteArray request = Socks4Request(server);
    Socket client = ConnectTo(proxy_.ListeningPort(), request);
    EXPECT_EQ(Read(*client, 8).toHex(' '), ("\x04\x5A" + request.mid(2, 6)).toHex(' '));
    return client;
  }

  QtSocketFactory factory_;
  AIMProxy proxy_{factory_, &host_};
  std::vector<std::string> events_;
  ForwardingHost host_{proxy_, [this](SlotIndex i, const std::string& d) {
                         events_.push_back(SocketEventLine(i, d));
                       }};
};

TEST_F(RelayTest, OscarFramesAreRenumberedAndLongBurstsKeepFlowingUpToTheClose) {
  auto server = Listen(5190);
  Socket client = Through(*server);
  QTcpSocket& up = Accept(*server, 65536);
  up.write(Frame(0x9999, 5, 's') + Frame(0x9999, 65535, 't'));
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
  up.setReadBufferSize(0);
  EXPECT_TRUE(Read(up) == expected);
}

TEST_F(RelayTest, SlowReaderHoldsBackTheServerAndThenGetsEverythingUpToTheClose) {
  auto server = Listen();
  Socket client = Through(*server);
  client->setReadBufferSize(65536);
  QTcpSocket& up = Accept(*server);
  QByteArray sent;
  for (int k = 0; sent.size() < (32 << 20); ++k) sent += QByteArray::number(k) + ',';
  up.write(sent);
  up.disconnectFromHost();
  // Nothing is read for a while: the server is held back, and the relay's queue stays bounded.
  Until([] { return false; }, 1500);
  EXPECT_GT(up.bytesToWrite(), 0);
  EXPECT_LE(proxy_.LocalSocks(1).BytesPending(),
            AIMProxy::kPauseAbove + 2 * QtSocketFactory::kReadBufferSize);
  client->setReadBufferSize(0);
  EXPECT_TRUE(Read(*client) == sent);
}

TEST_F(RelayTest, RefusedConnectClosesTheClientWithoutAReply) {
  Socket client = ConnectTo(proxy_.ListeningPort(), Socks4Request(*Listen()));  // closed at once
  EXPECT_EQ(Read(*client), "");
  EXPECT_THAT(events_, Contains("Socket (1): Socket Error: Connection refused (127.0.0.1)"));
}

TEST_F(RelayTest, RunningOutOfDescriptorsFailsOneClientAndSparesTheRest) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
#endif
  auto server = Listen();
  Socket a = Through(*server);
  QTcpSocket& aUp = Accept(*server);
  rlimit saved{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  const rlimit low{std::min<rlim_t>(saved.rlim_cur, 512), saved.rlim_max};
  ::setrlimit(RLIMIT_NOFILE, &low);
  std::vector<int> hog;  // every free descriptor, given back one at a time
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) hog.push_back(fd);
  std::size_t given = 0;
  // One free: the client takes it, the relay cannot accept and closes the client unserved.
  ::close(hog[given++]);
  EXPECT_EQ(Read(*ConnectTo(proxy_.ListeningPort())), "");
  EXPECT_THAT(events_, Contains(StartsWith("Socket (0): Remote Socket Failure: ")));
  // Two free: the relay accepts the client but cannot open the server connection.
  ::close(hog[given++]);
  EXPECT_EQ(Read(*ConnectTo(proxy_.ListeningPort(), Socks4Request(*server))), "");
  EXPECT_THAT(events_, Contains(StartsWith("Socket (2): Socket Error: ")));
  a->write("still here");  // the connection made before keeps working
  EXPECT_EQ(Read(aUp, 10), "still here");
  while (given < hog.size()) ::close(hog[given++]);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  Socket d = Through(*server);
  Accept(*server).write("back");
  EXPECT_EQ(Read(*d, 4), "back");
}

TEST(Headless, PortInUseFailsSavingNothingAndSigtermExitsSavingThePrefs) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  QProcess process;
  process.setReadChannel(QProcess::StandardError);
  // Starts the program on `port`; true once it listens, false when it stops instead.
  const auto start = [&](quint16 port) {
    process.start(QStringLiteral(QUORVEL_BINARY),
                  {"--headless", "--prefs", prefs, "--port", QString::number(port)});
    QByteArray err;
    while (!err.contains("Listening on ") && process.waitForReadyRead(5000))
      err += process.readAll();
    return err.contains("Listening on ");
  };
  auto taken = Listen();
  EXPECT_FALSE(start(taken->serverPort()));
  process.waitForFinished(5000);
  EXPECT_NE(process.exitCode(), 0);
  EXPECT_FALSE(QFile::exists(prefs));
  EXPECT_TRUE(process.readAllStandardOutput().startsWith("1 x Socket (0): Start Listen Failure: "));

  const quint16 port = Listen()->serverPort();  // free again
  ASSERT_TRUE(start(port));
  Socket client = ConnectTo(port, Socks4Request(*taken));
  EXPECT_EQ(Read(*client, 8).left(2), "\x04\x5A");
  ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
  ASSERT_TRUE(process.waitForFinished(5000));
  EXPECT_EQ(process.exitCode(), 0);
  EXPECT_TRUE(process.readAllStandardOutput().contains("Socket (1): Connecting: 127.0.0.1\n"));
  // Saved with the stored port, not this run's --port.
  QFile saved(prefs);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const std::string text = saved.readAll().toStdString();
  EXPECT_THAT(text, StartsWith("[KAVO]\r\n"));
  EXPECT_THAT(text, ::testing::HasSubstr("\r\n[prefs]\r\nport=3131\r\n"));
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTimer wake;  // wakes the event loop regularly, so that waits check their conditions
  wake.start(10);
  std::signal(SIGPIPE, SIG_IGN);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
