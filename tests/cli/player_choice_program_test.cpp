// The player's choice stored in prefs.ini, as `quorvel --headless` applies it: a client's profile
// token is filled from the preferred player while it is there, and never from an ignored one.

#include <gtest/gtest.h>
#include <qtestsupport_core.h>

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "media/private_bus.h"
#include "media/test_mpris_service.h"
#include "monitor/monitor_fakes.h"
#include "settings/prefs_store.h"
#include "wire/tlv.h"

namespace quorvel::testing {
namespace {

TEST(HeadlessPlayerChoice, PreferredPlayerFirstThenTheChoiceSkipsIgnoredOnes) {
  PrivateBus bus;
  ASSERT_FALSE(bus.Address().isEmpty()) << "no dbus-daemon";
  const auto start = [&](const char* name, TestPlayerState state) {
    auto player = std::make_unique<ThreadedTestPlayer>(
        bus.Address(), QStringLiteral("org.mpris.MediaPlayer2.") + name, std::move(state));
    EXPECT_TRUE(player->Registered()) << name;
    return player;
  };
  // Without the ignore list "aaa" would be read, the first of the two playing by name.
  auto ignored = start("aaa", {"Playing", {"Ignored"}, "Tune"});
  auto automatic = start("bbb", {"Playing", {"Automatic"}, "Tune"});
  auto preferred = start("ccc.instance9", {"Stopped", {"Preferred"}, "Tune"});
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().toUtf8());

  QTcpServer server;  // a loopback address of its own, as the end-to-end test picks one
  int last = 1;
  while (!server.isListening() && ++last < 20)
    server.listen(QHostAddress(QString("127.0.0.%1").arg(last)), 5190);
  ASSERT_TRUE(server.isListening()) << "no loopback address free on port 5190";

  QTemporaryDir dir;
  Preferences prefs;
  prefs.intervalSpin = kSpinMax - 200;
  prefs.player = " ccc ";
  prefs.ignorePlayers = "aaa,zzz";
  ASSERT_TRUE(PrefsStore(dir.filePath("prefs.ini")).Save(prefs));

  std::string out;
  QProcess quorvel;
  quorvel.setProcessChannelMode(QProcess::MergedChannels);
  QObject::connect(&quorvel, &QProcess::readyRead, [&] { out += quorvel.readAll().toStdString(); });
  quorvel.start(QUORVEL_BINARY,
                {"--headless", "--prefs", dir.filePath("prefs.ini"), "--port", "0"});
  const auto listening = [&] { return out.find('\n', out.find("Listening on ")) != out.npos; };
  ASSERT_TRUE(QTest::qWaitFor(listening, 10000)) << out;
  const int port = std::stoi(out.substr(out.find(':', out.find("Listening on ")) + 1));

  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
  const Bytes request = Bytes{4, 1, 0x14, 0x46, 127, 0, 0, static_cast<char>(last)} + "user";
  client.write(request.c_str(), static_cast<qint64>(request.size() + 1));
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 10000)) << out;
  QTcpSocket& serverSide = *server.nextPendingConnection();
  client.write(QByteArray::fromStdString(Flap(Snac(2, 4, MakeTLV(2, "%a")))));

  Bytes received;
  const auto profileWas = [&](const char* artist) {
    return QTest::qWaitFor(
        [&] {
          received += serverSide.readAll().toStdString();
          return received.find(MakeTLV(2, artist)) != Bytes::npos;
        },
        10000);
  };
  EXPECT_TRUE(profileWas("Preferred")) << out;
  preferred.reset();  // gone: the next update reads the choice among the others
  EXPECT_TRUE(profileWas("Automatic")) << out;
  EXPECT_EQ(received.find(MakeTLV(2, "Ignored")), Bytes::npos);
  quorvel.terminate();
  EXPECT_TRUE(quorvel.waitForFinished(10000)) << out;
}

}  // namespace
}  // namespace quorvel::testing
