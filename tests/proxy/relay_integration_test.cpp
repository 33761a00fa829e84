// The relay on the Qt event loop over real loopback sockets: a SOCKS4 test client and a test
// server talk through it from a second thread while the main thread runs the event loop.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "loopback.h"
#include "proxy/aim_proxy.h"
#include "proxy/forwarding_host.h"
#include "proxy/qt_socket.h"
#include "test_bytes.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;

std::string Frame(std::uint16_t seq, std::size_t size, char fill = 'x') {
  std::string f = {0x2A,
                   0x02,
                   static_cast<char>(seq >> 8),
                   static_cast<char>(seq & 0xFF),
                   static_cast<char>(size >> 8),
                   static_cast<char>(size & 0xFF)};
  return f + std::string(size, fill);
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen() & 0xFF);
  return out;
}

class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    proxy_.SetHost(&host_);
    proxy_.StartListen(0);
    port_ = proxy_.ListeningPort();
    ASSERT_NE(port_, 0) << Events();
  }
  void TearDown() override { proxy_.StopListen(); }

  // Runs `body` on a second thread while this thread runs the event loop; `tick` runs on this
  // thread between event batches.
  void Run(const std::function<void()>& body, const std::function<void()>& tick = {}) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      try {
        body();
      } catch (const std::exception& e) {
        ADD_FAILURE() << "test thread: " << e.what() << "\nevents:\n" << Events();
      }
      done = true;
    });
    QDeadlineTimer deadline(60000);
    while (!done && !deadline.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      if (tick) tick();
    }
    worker.join();
  }

  std::string Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const auto& e : events_) all += e + "\n";
    return all;
  }
  bool HasEvent(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(events_.begin(), events_.end(), text) != events_.end();
  }
  bool HasEventStarting(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(events_.begin(), events_.end(),
                       [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
  }
  // Waits (on the test thread) until the event loop has raised an event starting with `prefix`.
  void WaitForEvent(const std::string& prefix) {
    QDeadlineTimer deadline(kIoTimeoutMs);
    while (!HasEventStarting(prefix)) {
      if (deadline.hasExpired()) throw std::runtime_error("no event " + prefix);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // A client through the relay to ip:port, with the SOCKS4 handshake done.
  Fd Through(const std::string& ip, std::uint16_t port) {
    Fd client = ConnectTo("127.0.0.1", port_);
    SendAll(client.get(), Socks4Request(ip, port));
    const std::string reply = RecvExactly(client.get(), 8);
    const std::string expected = Socks4Request(ip, port).substr(2, 6);
    if (reply != std::string{0x04, 0x5A} + expected) {
      throw std::runtime_error("unexpected reply " + ToHex(reply));
    }
    return client;
  }

  QtSocketFactory factory_;
  AIMProxy proxy_{factory_};
  std::mutex mutex_;
  std::vector<std::string> events_;
  ForwardingHost host_{proxy_, [this](SlotIndex i, const std::string& d) {
                         std::lock_guard<std::mutex> lock(mutex_);
                         events_.push_back(SocketEventLine(i, d));
                       }};
  std::uint16_t port_ = 0;
};

TEST_F(RelayTest, OscarFramesAreRenumberedInBothDirections) {
  auto [server, ip] = ListenOnFreeLoopback(5190);
  Run([&, &server = server, &ip = ip] {
    Fd client = ConnectTo("127.0.0.1", port_);
    // The request arrives in two segments.
    const std::string request = Socks4Request(ip, 5190, "screenname");
    SendAll(client.get(), request.substr(0, 5));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SendAll(client.get(), request.substr(5));
    Fd up = AcceptOne(server.get());
    EXPECT_EQ(ToHex(RecvExactly(client.get(), 8)), "04 5A 14 46 " + ToHex(request.substr(4, 4)));

    const std::string out = Frame(0x1000, 10, 'a') + Frame(0x2000, 0) + Frame(7, 1000, 'c');
    SendAll(client.get(), out.substr(0, 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SendAll(client.get(), out.substr(3, 500));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SendAll(client.get(), out.substr(503));
    EXPECT_EQ(RecvExactly(up.get(), out.size()),
              Frame(1, 10, 'a') + Frame(2, 0) + Frame(3, 1000, 'c'));

    SendAll(up.get(), Frame(0x9999, 5, 's') + Frame(0x9999, 65535, 't'));
    EXPECT_EQ(RecvExactly(client.get(), 11 + 65541), Frame(1, 5, 's') + Frame(2, 65535, 't'));
  });
  EXPECT_TRUE(HasEvent("Socket (1): Connecting: " + ip)) << Events();
}

TEST_F(RelayTest, RawPortCarriesEveryByteBothWays) {
  Fd server = ListenOn("127.0.0.1", 0);
  const std::uint16_t port = LocalPort(server.get());
  Run([&] {
    Fd client = Through("127.0.0.1", port);
    Fd up = AcceptOne(server.get());
    for (unsigned round = 0; round < 16; ++round) {
      const std::string there = RandomBytes(65536, round);
      const std::string back = RandomBytes(65536, round + 100);
      SendAll(client.get(), there);
      ASSERT_EQ(RecvExactly(up.get(), there.size()), there);
      SendAll(up.get(), back);
      ASSERT_EQ(RecvExactly(client.get(), back.size()), back);
    }
  });
}

TEST_F(RelayTest, EverythingSentBeforeACloseArrives) {
  auto [oscar, ip] = ListenOnFreeLoopback(5190);
  Fd raw = ListenOn("127.0.0.1", 0);
  const std::uint16_t rawPort = LocalPort(raw.get());
  Run([&, &oscar = oscar, &ip = ip] {
    // Server to client, framed: the server writes 4000 frames and closes at once.
    {
      Fd client = Through(ip, 5190);
      Fd up = AcceptOne(oscar.get());
      std::string sent, expected;
      for (int k = 0; k < 4000; ++k) {
        sent += Frame(0xAAAA, 1000, static_cast<char>('a' + k % 26));
        expected += Frame(static_cast<std::uint16_t>(k + 1), 1000, static_cast<char>('a' + k % 26));
      }
      std::thread writer([&] {
        SendAll(up.get(), sent);
        up.Reset();
      });
      const std::string got = RecvUntilEnd(client.get());
      writer.join();
      EXPECT_EQ(got.size(), expected.size());
      EXPECT_TRUE(got == expected);
    }
    // Client to server, raw: the client writes 8 MiB and closes at once.
    {
      Fd client = Through("127.0.0.1", rawPort);
      Fd up = AcceptOne(raw.get());
      const std::string sent = RandomBytes(8 << 20, 7);
      std::thread writer([&] {
        SendAll(client.get(), sent);
        client.Reset();
      });
      const std::string got = RecvUntilEnd(up.get());
      writer.join();
      EXPECT_EQ(got.size(), sent.size());
      EXPECT_TRUE(got == sent);
    }
  });
}

TEST_F(RelayTest, RefusedConnectClosesTheClientWithoutAReply) {
  std::uint16_t deadPort = 0;
  {
    Fd probe = ListenOn("127.0.0.1", 0);
    deadPort = LocalPort(probe.get());
  }
  Run([&] {
    Fd client = ConnectTo("127.0.0.1", port_);
    SendAll(client.get(), Socks4Request("127.0.0.1", deadPort));
    EXPECT_EQ(RecvUntilEnd(client.get()), "");
  });
  EXPECT_TRUE(HasEventStarting("Socket (1): Socket Error: ")) << Events();
  EXPECT_TRUE(HasEventStarting("Socket (1): Socket Error: Connection refused (127.0.0.1)"))
      << Events();
}

TEST_F(RelayTest, SlowReaderHoldsBackTheServerInsteadOfFillingMemory) {
  Fd server = ListenOn("127.0.0.1", 0);
  const std::uint16_t port = LocalPort(server.get());
  std::size_t maxQueued = 0;
  std::atomic<bool> relaying{false};
  Run(
      [&] {
        Fd client = Through("127.0.0.1", port);
        Fd up = AcceptOne(server.get());
        relaying = true;
        const std::string sent = RandomBytes(32 << 20, 3);
        std::atomic<std::size_t> written{0};
        std::thread writer([&] {
          std::size_t done = 0;
          while (done < sent.size()) {
            const ssize_t n =
                ::send(up.get(), sent.data() + done,
                       std::min<std::size_t>(65536, sent.size() - done), MSG_NOSIGNAL);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
            written = done;
          }
        });
        // Nothing is read for a while: the writer must get stuck well short of 32 MiB.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_LT(written.load(), sent.size());
        const std::string got = RecvExactly(client.get(), sent.size());
        writer.join();
        EXPECT_TRUE(got == sent);
        relaying = false;
      },
      [&] {
        if (relaying && proxy_.UpperBound() >= 1) {
          maxQueued = std::max(maxQueued, proxy_.LocalSocks(1).BytesPending());
        }
      });
  EXPECT_LE(maxQueued, AIMProxy::kPauseAbove + 2 * QtSocketFactory::kReadBufferSize);
}

// Holds every free descriptor of the process until released.
class DescriptorHog {
 public:
  DescriptorHog() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit low = saved_;
    low.rlim_cur = std::min<rlim_t>(saved_.rlim_cur, 512);
    setrlimit(RLIMIT_NOFILE, &low);
    while (true) {
      const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd < 0) break;
      held_.push_back(fd);
    }
  }
  ~DescriptorHog() {
    Release(held_.size());
    setrlimit(RLIMIT_NOFILE, &saved_);
  }
  void Release(std::size_t count) {
    for (std::size_t k = 0; k < count && !held_.empty(); ++k) {
      ::close(held_.back());
      held_.pop_back();
    }
  }

 private:
  rlimit saved_{};
  std::vector<int> held_;
};

TEST_F(RelayTest, RunningOutOfDescriptorsFailsOneClientAndSparesTheRest) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer runtime needs descriptors of its own to check memory (it reports false type
  // errors when none are left), so this runs in the plain build only.
  GTEST_SKIP() << "needs free descriptors for the sanitizer runtime";
#endif
  Fd server = ListenOn("127.0.0.1", 0);
  const std::uint16_t port = LocalPort(server.get());
  Run([&] {
    Fd a = Through("127.0.0.1", port);
    Fd aUp = AcceptOne(server.get());
    {
      DescriptorHog hog;
      // One descriptor free: the client gets it, the relay cannot accept.
      hog.Release(1);
      Fd b = ConnectTo("127.0.0.1", port_);
      WaitForEvent("Socket (0): Remote Socket Failure: ");
      char byte = 0;
      EXPECT_LE(::recv(b.get(), &byte, 1, 0), 0);  // closed, never served
      b.Reset();
      // Two free: the relay accepts the client but cannot open the server connection.
      hog.Release(1);
      Fd c = ConnectTo("127.0.0.1", port_);
      SendAll(c.get(), Socks4Request("127.0.0.1", port));
      EXPECT_EQ(RecvUntilEnd(c.get()), "");
      WaitForEvent("Socket (2): Socket Error: ");
      // The connection made before keeps working throughout.
      SendAll(a.get(), "still here");
      EXPECT_EQ(RecvExactly(aUp.get(), 10), "still here");
    }
    Fd d = Through("127.0.0.1", port);
    Fd dUp = AcceptOne(server.get());
    SendAll(dUp.get(), "back");
    EXPECT_EQ(RecvExactly(d.get(), 4), "back");
    SendAll(aUp.get(), "and a");
    EXPECT_EQ(RecvExactly(a.get(), 5), "and a");
  });
}

// ---- The headless program -------------------------------------------------------------------

class HeadlessTest : public ::testing::Test {
 protected:
  // Starts `quorvel --headless` with `args`; returns its listening port, or 0.
  std::uint16_t Start(const QStringList& args) {
    process_.setProgram(QStringLiteral(QUORVEL_BINARY));
    process_.setArguments(QStringList{QStringLiteral("--headless")} + args);
    process_.start();
    if (!process_.waitForStarted(kIoTimeoutMs)) return 0;
    QDeadlineTimer deadline(kIoTimeoutMs);
    while (!deadline.hasExpired() && process_.state() == QProcess::Running) {
      process_.waitForReadyRead(50);
      err_ += process_.readAllStandardError();
      const qsizetype at = err_.indexOf("Listening on ");
      const qsizetype end = err_.indexOf('\n', at);
      if (at >= 0 && end > at) {
        const QByteArray line = err_.mid(at, end - at);
        return static_cast<std::uint16_t>(line.mid(line.lastIndexOf(':') + 1).toUInt());
      }
    }
    return 0;
  }
  ~HeadlessTest() override {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(kIoTimeoutMs);
    }
  }
  QProcess process_;
  QByteArray err_;
};

TEST_F(HeadlessTest, RelaysPrintsEventsAndStopsOnSigterm) {
  const std::uint16_t port = Start({QStringLiteral("--port"), QStringLiteral("0")});
  ASSERT_NE(port, 0) << err_.toStdString();
  Fd server = ListenOn("127.0.0.1", 0);
  const std::uint16_t serverPort = LocalPort(server.get());
  {
    Fd client = ConnectTo("127.0.0.1", port);
    SendAll(client.get(), Socks4Request("127.0.0.1", serverPort));
    Fd up = AcceptOne(server.get());
    EXPECT_EQ(RecvExactly(client.get(), 8).substr(0, 2), "\x04\x5A");
    SendAll(client.get(), "ping");
    EXPECT_EQ(RecvExactly(up.get(), 4), "ping");
    SendAll(up.get(), "pong");
    EXPECT_EQ(RecvExactly(client.get(), 4), "pong");
    // A second client is still connected when the program is told to stop.
    Fd other = ConnectTo("127.0.0.1", port);
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    ASSERT_TRUE(process_.waitForFinished(kIoTimeoutMs));
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 0);
    EXPECT_EQ(RecvUntilEnd(client.get()), "");
    // Closed, one way or another (if still in the listen queue, by a reset).
    char byte = 0;
    EXPECT_LE(::recv(other.get(), &byte, 1, 0), 0);
  }
  const QByteArray out = process_.readAllStandardOutput();
  EXPECT_TRUE(out.contains("Socket (1): Connecting: 127.0.0.1\n")) << out.toStdString();
}

TEST_F(HeadlessTest, PortInUseIsReportedAndExitsWithFailure) {
  Fd taken = ListenOn("127.0.0.1", 0);
  const std::uint16_t port = LocalPort(taken.get());
  EXPECT_EQ(Start({QStringLiteral("--port"), QString::number(port)}), 0);
  if (process_.state() != QProcess::NotRunning) {
    ASSERT_TRUE(process_.waitForFinished(kIoTimeoutMs));
  }
  EXPECT_NE(process_.exitCode(), 0);
  EXPECT_TRUE(
      process_.readAllStandardOutput().startsWith("1 x Socket (0): Start Listen Failure: "));
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::signal(SIGPIPE, SIG_IGN);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
