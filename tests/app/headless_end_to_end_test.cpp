// The whole program over real loopback sockets: a test OSCAR server on port 5190 of a loopback
// address, a test client logging in through `quorvel --headless` by SOCKS4, and a test MPRIS
// player on a private bus playing "Band" / "Tune".

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>

#include "app/prefs_store.h"
#include "event_wait.h"
#include "media/private_bus.h"
#include "media/test_mpris_service.h"
#include "monitor/monitor_fakes.h"
#include "test_bytes.h"
#include "wire/away_snac.h"

namespace quorvel {
namespace {

using namespace testing;  // quorvel::testing

// The FLAP frames of `stream` once what `socket` has received is added to it, cut by their length
// fields (so that a wrong length shows as a wrong frame).
std::vector<Bytes> Frames(QTcpSocket& socket, Bytes& stream) {
  stream += socket.readAll().toStdString();
  std::vector<Bytes> frames;
  for (std::size_t at = 0, n = 0; at + 6 <= stream.size(); at += n) {
    n = 6 + static_cast<std::size_t>(WordAt(stream, at + 4));
    if (at + n > stream.size()) break;
    frames.push_back(stream.substr(at, n));
  }
  return frames;
}

void Send(QTcpSocket& socket, BytesView snac, int sequence = 0) {
  socket.write(QByteArray::fromStdString(Flap(snac, sequence)));
}

TEST(HeadlessEndToEnd, ClientLogsInThroughTheProxyAndItsProfileFollowsThePlayer) {
  PrivateBus bus;
  ThreadedTestPlayer player(bus.Address(), "org.mpris.MediaPlayer2.quorveltest",
                            {.artists = {"Band"}, .title = "Tune"});
  ASSERT_TRUE(player.Registered()) << "no private D-Bus daemon";
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().toUtf8());

  // 127.0.0.2 keeps clear of whatever runs on 127.0.0.1; another loopback address if it is taken.
  QTcpServer server;
  int last = 1;
  while (!server.isListening() && ++last < 20) {
    server.listen(QHostAddress(QString("127.0.0.%1").arg(last)), 5190);
  }
  ASSERT_TRUE(server.isListening()) << "no loopback address free on port 5190";

  // Every setting at its default but a short update interval.
  QTemporaryDir dir;
  const QString prefsPath = dir.filePath("prefs.ini");
  Preferences prefs;
  prefs.updateT = kSpinMax - 300;
  ASSERT_TRUE(PrefsStore(prefsPath).Save(prefs));

  std::string out;  // standard output and error
  QProcess quorvel;
  quorvel.setProcessChannelMode(QProcess::MergedChannels);
  QObject::connect(&quorvel, &QProcess::readyRead, [&] { out += quorvel.readAll().toStdString(); });
  const auto has = [&](const std::string& line) {
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
  };
  quorvel.start(QUORVEL_BINARY,
                {"--headless", "--prefs", prefsPath, "--port", "0", "--player", "quorveltest"});
  const QRegularExpression listening("Listening on [0-9.]+:([0-9]+)\n");
  QRegularExpressionMatch port;
  ASSERT_TRUE(WaitFor([&] {
    return (port = listening.match(QString::fromStdString(out))).hasMatch();
  })) << out;

  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port.captured(1).toUInt()));
  ASSERT_TRUE(client.waitForConnected(10000)) << out;
  // SOCKS4 CONNECT to 127.0.0.last port 5190 (0x1446), user "user".
  const Bytes request = Bytes{4, 1, 0x14, 0x46, 127, 0, 0, static_cast<char>(last)} + "user";
  client.write(request.c_str(), static_cast<qint64>(request.size() + 1));
  ASSERT_TRUE(WaitFor([&] { return client.bytesAvailable() >= 8; })) << out;
  EXPECT_EQ(client.read(8).at(1), 0x5A) << "request not granted";
  ASSERT_TRUE(WaitFor([&] { return server.hasPendingConnections(); }));
  QTcpSocket& serverSide = *server.nextPendingConnection();
  Bytes toServer, toClient;  // the two streams as they arrive
  const auto count = [&](const Bytes& snac) {
    const std::vector<Bytes> frames = Frames(serverSide, toServer);
    return std::count_if(frames.begin(), frames.end(),
                         [&](const Bytes& f) { return f.substr(6) == snac; });
  };

  // Server to client, renumbered: the login reply names the user; buddies come and go.
  const Bytes fromServer[] = {Snac(0x17, 3, MakeTLV(1, "TestUser") + MakeTLV(5, "127.0.0.2:5190")),
                              Snac(3, 0x0B, Hex("05") + "alice" + Hex("00 00 00 00")),
                              Snac(3, 0x0B, Hex("05") + "alice"), Snac(3, 0x0C, Hex("03") + "bob")};
  for (const Bytes& snac : fromServer) Send(serverSide, snac, 900);
  ASSERT_TRUE(WaitFor([&] { return Frames(client, toClient).size() >= 4; })) << out;
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Frames(client, toClient)[i], Flap(fromServer[i], static_cast<int>(i + 1)));
  }
  EXPECT_TRUE(WaitFor([&] {
    return has(" [ TestUser ] - Quorvel") && has("1 x Update alice") && has("2 x Update alice") &&
           has("1 x Signoff bob");
  })) << out;

  // The profile arrives filled, and again at each tick.
  const Bytes mime = MakeTLV(1, kAwayMimeUsAscii), caps = MakeTLV(5, Bytes(16, '\x09'));
  Send(client, Snac(2, 4, mime + MakeTLV(2, "<b>%a - %s</b>") + caps));
  const Bytes filled = Snac(2, 4, mime + MakeTLV(2, "<b>Band - Tune</b>") + caps);
  EXPECT_TRUE(WaitFor([&] { return count(filled) >= 3 && has("2 x Updated Profile"); })) << out;

  // The away message: composed from the client's text, declared us-ascii, other TLVs dropped.
  Send(client, Snac(2, 4, MakeTLV(3, kAwayMimeUtf8) + MakeTLV(4, "Listening to %s by %a") + caps));
  const Bytes away = MakeAwaySNAC(kAwayMimeUsAscii, "Listening to Tune by Band");
  EXPECT_TRUE(WaitFor([&] { return count(away) >= 2 && has("1 x Updated Away"); })) << out;

  // The fake away and the return, typed into instant messages to alice.
  const Bytes html = "<HTML><BODY BGCOLOR=\"#ffffff\"><FONT LANG=\"0\">";
  for (const Bytes typed : {".a gone", ".b"}) {
    const Bytes body = MakeTLV(2, html + typed + "</FONT></BODY></HTML>");
    Send(client, Snac(4, 6, Bytes(8, '\x01') + Hex("00 01 05") + "alice" + body));
  }
  const Bytes fakeAway = MakeAwaySNAC(kAwayMimeUsAscii, html + "gone</FONT></BODY></HTML>");
  const Bytes back = MakeAwaySNAC("", "");
  EXPECT_TRUE(WaitFor([&] {
    return count(back) == 1 && has("1 x Away [Fake]") && has("1 x Return [Fake]");
  })) << out;
  EXPECT_EQ(count(fakeAway), 1);

  // Nothing else reached the server (no instant message, no unfilled profile), in one numbering.
  const std::vector<Bytes> frames = Frames(serverSide, toServer);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(WordAt(frames[i], 2), static_cast<std::int32_t>(i + 1));
    EXPECT_THAT(frames[i].substr(6), ::testing::AnyOf(filled, away, fakeAway, back));
  }
  quorvel.terminate();
  EXPECT_TRUE(quorvel.waitForFinished(10000)) << out;
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
