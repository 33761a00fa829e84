// The whole program over real loopback sockets: a test OSCAR server on port 5190 of a loopback
// address, a test client logging in through `quorvel --headless` by SOCKS4, and a test MPRIS
// player on a private bus playing "Band" / "Tune".

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qtestsupport_core.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>

#include "media/private_bus.h"
#include "media/test_mpris_service.h"
#include "monitor/monitor_fakes.h"
#include "settings/prefs_store.h"
#include "wire/away_snac.h"

namespace quorvel::testing {
namespace {

// The FLAP frames of `stream` once what `socket` has received is added to it, cut by their length
// fields (so that a wrong length shows as a wrong frame).
std::vector<Bytes> Frames(QTcpSocket& socket, Bytes& stream) {
  stream += socket.readAll().toStdString();
  std::vector<Bytes> frames;
  for (std::size_t at = 0, n = 0; at + 6 <= stream.size(); at += n) {
    if (at + (n = 6 + static_cast<std::size_t>(WordAt(stream, at + 4))) > stream.size()) break;
    frames.push_back(stream.substr(at, n));
  }
  return frames;
}

void Send(QTcpSocket& socket, BytesView snac) {
  socket.write(QByteArray::fromStdString(Flap(snac)));
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
  while (!server.isListening() && ++last < 20)
    server.listen(QHostAddress(QString("127.0.0.%1").arg(last)), 5190);
  ASSERT_TRUE(server.isListening()) << "no loopback address free on port 5190";

  // Every setting at its default but a short update interval.
  QTemporaryDir dir;
  Preferences prefs;
  prefs.intervalSpin = kSpinMax - 300;
  ASSERT_TRUE(PrefsStore(dir.filePath("prefs.ini")).Save(prefs));

  std::string out = "\n";  // standard output and error, from a line break on
  QProcess quorvel;
  quorvel.setProcessChannelMode(QProcess::MergedChannels);
  QObject::connect(&quorvel, &QProcess::readyRead, [&] { out += quorvel.readAll().toStdString(); });
  quorvel.start(QUORVEL_BINARY, {"--headless", "--prefs", dir.filePath("prefs.ini"), "--port", "0",
                                 "--player", "quorveltest"});
  // It names its port on standard error once it listens: "Listening on address:port".
  const auto listening = [&] { return out.find('\n', out.find("Listening on ")) != out.npos; };
  ASSERT_TRUE(QTest::qWaitFor(listening, 10000)) << out;
  const int port = std::stoi(out.substr(out.find(':', out.find("Listening on ")) + 1));

  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
  // SOCKS4 CONNECT to 127.0.0.last port 5190 (0x1446), user "user".
  const Bytes request = Bytes{4, 1, 0x14, 0x46, 127, 0, 0, static_cast<char>(last)} + "user";
  client.write(request.c_str(), static_cast<qint64>(request.size() + 1));
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 10000));
  QTcpSocket& serverSide = *server.nextPendingConnection();
  Bytes toServer;  // the stream as it arrives
  const auto count = [&](const Bytes& snac) {
    return std::ranges::count_if(Frames(serverSide, toServer),
                                 [&](auto& f) { return f.substr(6) == snac; });
  };

  // The server sends the login reply and buddy notices; the client its profile, its away
  // message and two instant messages to alice, the first setting a fake away, the second back.
  for (const Bytes& snac : {Snac(0x17, 3, MakeTLV(1, "TestUser")), Snac(3, 0x0B, "\5alice"),
                            Snac(3, 0x0B, "\5alice" + Bytes(4, 0)), Snac(3, 0x0C, "\3bob")}) {
    Send(serverSide, snac);
  }
  const Bytes mime = MakeTLV(1, kAwayMimeUsAscii), caps = MakeTLV(5, Bytes(16, '\x09'));
  const Bytes html = "<HTML><BODY BGCOLOR=\"#ffffff\"><FONT LANG=\"0\">";
  Send(client, Snac(2, 4, mime + MakeTLV(2, "<b>%a - %s</b>") + caps));
  Send(client, Snac(2, 4, MakeTLV(3, kAwayMimeUtf8) + MakeTLV(4, "Listening to %s by %a") + caps));
  for (const Bytes typed : {".a gone", ".b"}) {
    const Bytes body = MakeTLV(2, html + typed + "</FONT></BODY></HTML>");
    Send(client, Snac(4, 6, Bytes(8, 1) + Bytes{0, 1} + "\5alice" + body));
  }

  // The profile goes out filled, and again at each tick; the away message composed from the
  // client's text, declared us-ascii, other TLVs dropped; each counted in the event log.
  const Bytes filled = Snac(2, 4, mime + MakeTLV(2, "<b>Band - Tune</b>") + caps);
  const Bytes away = MakeAwaySNAC(kAwayMimeUsAscii, "Listening to Tune by Band");
  const Bytes fakeAway = MakeAwaySNAC(kAwayMimeUsAscii, html + "gone</FONT></BODY></HTML>");
  const Bytes back = MakeAwaySNAC("", "");
  const std::vector<std::string> lines = {
      " [ TestUser ] - Quorvel", "1 x Update alice", "2 x Update alice", "1 x Signoff bob",
      "2 x Updated Profile",     "2 x Updated Away", "1 x Away [Fake]",  "1 x Return [Fake]"};
  const auto printed = [&](const std::string& l) { return out.find("\n" + l + "\n") != out.npos; };
  const auto done = [&] {
    return count(filled) >= 3 && count(away) >= 3 && count(back) == 1 && count(fakeAway) == 1 &&
           std::all_of(lines.begin(), lines.end(), printed);
  };
  EXPECT_TRUE(QTest::qWaitFor(done, 10000)) << out;
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
}  // namespace quorvel::testing

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
