// The whole program over real loopback sockets: a test OSCAR server on port 5190 of a loopback
// address, a test client logging in through `quorvel --headless` by SOCKS4, and a test MPRIS
// player on a private bus playing "Band" / "Tune".

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/preferences.h"
#include "app/prefs_store.h"
#include "event_wait.h"
#include "media/private_bus.h"
#include "media/test_mpris_service.h"
#include "test_bytes.h"
#include "wire/away_snac.h"
#include "wire/snac.h"
#include "wire/tlv.h"
#include "wire/word.h"

namespace quorvel {
namespace {

using testing::ToHex;

constexpr int kWaitMs = 10000;
constexpr int kIntervalMs = 300;

Bytes SnacFrame(int family, int subtype, BytesView data, int sequence) {
  Bytes frame{'*', 2};
  frame += IntToWord(sequence);
  frame += IntToWord(static_cast<std::int32_t>(10 + data.size()));
  frame += IntToWord(family) + IntToWord(subtype) + Bytes(6, '\0');
  frame += data;
  return frame;
}

bool WaitFor(const std::function<bool()>& done, int ms = kWaitMs) {
  return testing::WaitFor(done, ms);
}

// One end of a FLAP connection: collects whole frames as they arrive.
class FlapPeer {
 public:
  explicit FlapPeer(QTcpSocket* socket) : socket_(socket) {
    QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] { Drain(); });
    Drain();
  }
  void Send(BytesView frame) {
    socket_->write(frame.data(), static_cast<qint64>(frame.size()));
    socket_->flush();
  }
  // Waits until at least `count` frames have arrived in all.
  bool WaitFrames(std::size_t count, int ms = kWaitMs) {
    return WaitFor([&] { return frames.size() >= count; }, ms);
  }
  // Frames that carry the SNAC family/subtype, in arrival order.
  std::vector<Bytes> WithKey(std::int32_t key) const {
    std::vector<Bytes> out;
    for (const Bytes& f : frames) {
      if (SnacKey(f) == key) out.push_back(f);
    }
    return out;
  }

  std::vector<Bytes> frames;
  Bytes pending;

 private:
  void Drain() {
    const QByteArray bytes = socket_->readAll();
    pending.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    while (pending.size() >= 6) {
      const auto length = static_cast<std::size_t>(WordAt(pending, 4));
      if (pending.size() < 6 + length) break;
      frames.push_back(pending.substr(0, 6 + length));
      pending.erase(0, 6 + length);
    }
  }
  QTcpSocket* socket_;
};

class HeadlessEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    busAddress_ = bus_.Address();
    ASSERT_FALSE(busAddress_.isEmpty()) << "no private D-Bus daemon";
    StartServer();
    ASSERT_TRUE(server_.isListening()) << "no loopback address free on port 5190";
  }

  void TearDown() override {
    if (quorvel_.state() != QProcess::NotRunning) {
      quorvel_.terminate();
      if (!quorvel_.waitForFinished(5000)) {
        quorvel_.kill();
        quorvel_.waitForFinished(5000);
      }
    }
  }

  void StartServer() {
    // 127.0.0.2 keeps clear of whatever runs on 127.0.0.1; another loopback address if it is taken.
    for (int last = 2; last < 20 && !server_.isListening(); ++last) {
      serverAddress_ = QStringLiteral("127.0.0.%1").arg(last);
      server_.listen(QHostAddress(serverAddress_), 5190);
    }
  }

  // Starts the program on a port of its choosing and returns that port (0 when it did not listen).
  std::uint16_t StartQuorvel() {
    // Every setting at its default but a short update interval.
    const QString prefsPath = dir_.filePath(QStringLiteral("prefs.ini"));
    Preferences prefs;
    prefs.updateT = kSpinMax - kIntervalMs;
    if (!PrefsStore(prefsPath).Save(prefs)) return 0;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress_);
    quorvel_.setProcessEnvironment(env);
    quorvel_.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(&quorvel_, &QProcess::readyReadStandardOutput, &quorvel_, [this] {
      while (quorvel_.canReadLine()) {
        lines_.push_back(QString::fromUtf8(quorvel_.readLine()).trimmed().toStdString());
      }
    });
    quorvel_.start(QStringLiteral(QUORVEL_BINARY),
                   {QStringLiteral("--headless"), QStringLiteral("--prefs"), prefsPath,
                    QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--player"),
                    QStringLiteral("quorveltest")});
    if (!quorvel_.waitForStarted(kWaitMs)) return 0;
    // It names its port on standard error once it listens.
    const QRegularExpression listening(QStringLiteral("Listening on [0-9.]+:([0-9]+)\n"));
    QRegularExpressionMatch match;
    WaitFor([&] {
      errors_ += quorvel_.readAllStandardError();
      match = listening.match(QString::fromUtf8(errors_));
      return match.hasMatch() || quorvel_.state() == QProcess::NotRunning;
    });
    return match.hasMatch() ? static_cast<std::uint16_t>(match.captured(1).toUInt()) : 0;
  }

  bool HasLine(const std::string& line) const {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  }
  bool WaitLine(const std::string& line) {
    return WaitFor([&] { return HasLine(line); });
  }
  std::string Output() const {
    std::string all;
    for (const auto& l : lines_) all += l + "\n";
    return all + errors_.toStdString();
  }

  QTemporaryDir dir_;
  testing::PrivateBus bus_;
  QString busAddress_;
  QTcpServer server_;
  QString serverAddress_;
  QProcess quorvel_;
  std::vector<std::string> lines_;
  QByteArray errors_;
};

// Sequence numbers of a direction run 1, 2, 3 ... and every length field is the true length.
void ExpectRenumbered(const std::vector<Bytes>& frames) {
  for (std::size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(ToHex(frames[i].substr(0, 16)));
    EXPECT_EQ(WordAt(frames[i], 2), static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(static_cast<std::size_t>(WordAt(frames[i], 4)), frames[i].size() - 6);
  }
}

TEST_F(HeadlessEndToEnd, ClientLogsInThroughTheProxyAndItsProfileFollowsThePlayer) {
  testing::TestPlayerState playing;
  playing.artists = QStringList{QStringLiteral("Band")};
  playing.title = QStringLiteral("Tune");
  playing.positionUs = 83'000'000;
  playing.lengthUs = 245'000'000;
  testing::ThreadedTestPlayer player(busAddress_,
                                     QStringLiteral("org.mpris.MediaPlayer2.quorveltest"), playing);
  ASSERT_TRUE(player.Registered());

  const std::uint16_t port = StartQuorvel();
  ASSERT_NE(port, 0) << Output();

  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, port);
  ASSERT_TRUE(client.waitForConnected(kWaitMs)) << Output();

  // SOCKS4 CONNECT to the test server's port 5190.
  Bytes request{4, 1};
  request += IntToWord(5190);
  for (const QString& part : serverAddress_.split('.')) {
    request += static_cast<char>(part.toInt());
  }
  request += "user";
  request += '\0';
  client.write(request.data(), static_cast<qint64>(request.size()));
  ASSERT_TRUE(WaitFor([&] { return client.bytesAvailable() >= 8; })) << Output();
  const QByteArray reply = client.read(8);
  ASSERT_EQ(reply.size(), 8);
  EXPECT_EQ(static_cast<unsigned char>(reply[1]), 0x5A);
  ASSERT_TRUE(WaitFor([&] { return server_.hasPendingConnections(); }));
  std::unique_ptr<QTcpSocket> serverSide(server_.nextPendingConnection());
  FlapPeer atServer(serverSide.get());
  FlapPeer atClient(&client);

  // Server to client: the login reply names the user; buddies come and go.
  const std::vector<Bytes> fromServer = {
      SnacFrame(0x17, 0x03, MakeTLV(1, "TestUser") + MakeTLV(5, "127.0.0.2:5190"), 900),
      SnacFrame(0x03, 0x0B,
                Bytes("\x05"
                      "alice") +
                    Bytes(4, '\0'),
                901),
      SnacFrame(0x03, 0x0B,
                Bytes("\x05"
                      "alice") +
                    Bytes(4, '\0'),
                902),
      SnacFrame(0x03, 0x0C,
                Bytes("\x03"
                      "bob"),
                903),
  };
  for (const Bytes& f : fromServer) atServer.Send(f);
  ASSERT_TRUE(atClient.WaitFrames(fromServer.size())) << Output();
  for (std::size_t i = 0; i < fromServer.size(); ++i) {
    EXPECT_EQ(atClient.frames[i].substr(6), fromServer[i].substr(6));
  }
  ExpectRenumbered(atClient.frames);
  EXPECT_TRUE(WaitLine("[ TestUser ] - Quorvel")) << Output();
  EXPECT_TRUE(WaitLine("1 x Signoff bob")) << Output();
  EXPECT_TRUE(HasLine("1 x Update alice")) << Output();
  EXPECT_TRUE(HasLine("2 x Update alice")) << Output();

  // The profile arrives filled, and again at each tick.
  const Bytes mime = MakeTLV(1, kAwayMimeUsAscii);
  const Bytes caps = MakeTLV(5, Bytes(16, '\x09'));
  atClient.Send(SnacFrame(2, 4, mime + MakeTLV(2, "<b>%a - %s</b>") + caps, 0x4321));
  const Bytes filledProfile =
      SnacFrame(2, 4, mime + MakeTLV(2, "<b>Band - Tune</b>") + caps, 0).substr(6);
  ASSERT_TRUE(WaitFor([&] { return atServer.WithKey(kSnacSetUserInfo).size() >= 3; })) << Output();
  for (const Bytes& f : atServer.WithKey(kSnacSetUserInfo)) {
    EXPECT_EQ(ToHex(f.substr(6)), ToHex(filledProfile));
  }
  EXPECT_TRUE(WaitLine("2 x Updated Profile")) << Output();

  // The away message: composed from the client's text, declared us-ascii, other TLVs dropped.
  const Bytes away = SnacFrame(
      2, 4,
      MakeTLV(3, "text/aolrtf; charset=\"utf-8\"") + MakeTLV(4, "Listening to %s by %a") + caps,
      0x4322);
  atClient.Send(away);
  const Bytes composedAway = MakeAwaySNAC(kAwayMimeUsAscii, "Listening to Tune by Band");
  const auto awaysAtServer = [&] {
    std::size_t n = 0;
    for (const Bytes& f : atServer.frames) n += f.substr(6) == composedAway ? 1U : 0U;
    return n;
  };
  ASSERT_TRUE(WaitFor([&] { return awaysAtServer() >= 2; })) << Output();
  EXPECT_TRUE(WaitLine("1 x Updated Away")) << Output();

  // The fake away and the return, typed into an instant message to a buddy.
  const auto im = [](const std::string& typed, int sequence) {
    const Bytes html =
        "<HTML><BODY BGCOLOR=\"#ffffff\"><FONT LANG=\"0\">" + typed + "</FONT></BODY></HTML>";
    return SnacFrame(4, 6,
                     Bytes(8, '\x01') +
                         Bytes("\x00\x01\x05"
                               "alice",
                               8) +
                         MakeTLV(2, html),
                     sequence);
  };
  const std::size_t before = atServer.frames.size();
  atClient.Send(im(".a gone", 0x4323));
  const Bytes fakeAway =
      MakeAwaySNAC(kAwayMimeUsAscii,
                   "<HTML><BODY BGCOLOR=\"#ffffff\"><FONT LANG=\"0\">gone</FONT></BODY></HTML>");
  const auto arrived = [&](const Bytes& snac) {
    for (std::size_t i = before; i < atServer.frames.size(); ++i) {
      if (atServer.frames[i].substr(6) == snac) return true;
    }
    return false;
  };
  EXPECT_TRUE(WaitFor([&] { return arrived(fakeAway); })) << Output();
  atClient.Send(im(".b", 0x4324));
  EXPECT_TRUE(WaitFor([&] { return arrived(MakeAwaySNAC("", "")); })) << Output();
  EXPECT_TRUE(WaitLine("1 x Away [Fake]")) << Output();
  EXPECT_TRUE(WaitLine("1 x Return [Fake]")) << Output();

  // No instant message was delivered, and the server saw one unbroken numbering.
  EXPECT_TRUE(atServer.WithKey(0x0406).empty());
  EXPECT_TRUE(atServer.pending.empty());
  ExpectRenumbered(atServer.frames);
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
