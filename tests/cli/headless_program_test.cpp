// The quorvel program without a window, run as a child process: options and settings files it
// refuses, a client's session relayed over loopback to a test OSCAR server with a test MPRIS player
// on a private bus, the settings saved when a signal ends it, and where the installed program
// keeps them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qtestsupport_core.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <string>
#include <vector>

#include "cli/program_runs.h"
#include "media/private_bus.h"
#include "media/test_mpris_service.h"
#include "monitor/monitor_fakes.h"
#include "net/loopback.h"
#include "settings/original_prefs.h"
#include "settings/prefs_store.h"
#include "settings/test_files.h"
#include "wire/away_snac.h"

namespace quorvel::testing {
namespace {

using ::testing::HasSubstr;

class Headless : public ::testing::Test {
 protected:
  QTemporaryDir dir_;
  const QString prefs_ = dir_.filePath(QStringLiteral("prefs.ini"));
};

// The arguments of a headless run on the settings file `prefs`, without a player.
QStringList HeadlessArgs(const QString& prefs, const QString& port = QStringLiteral("0")) {
  return {"--headless", "--prefs", prefs, "--port", port, "--player", "none"};
}

TEST_F(Headless, RefusesBadOptionsAndSettingsFilesThatAreNoFilesAtOnce) {
  const QString fifo = dir_.filePath("fifo.ini");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const std::pair<QStringList, std::string> rows[] = {
      {HeadlessArgs(prefs_, "65536"), "Not a port number: 65536"},
      {HeadlessArgs(prefs_, "x1"), "Not a port number: x1"},
      {{"--headless", "stray"}, "unexpected argument \"stray\""},
      {{"--no-such-option"}, "no-such-option"},
      {HeadlessArgs(fifo), fifo.toStdString() + ": is a FIFO"},
  };
  for (const auto& [arguments, says] : rows) {
    SCOPED_TRACE(arguments.join(' ').toStdString());
    RunningProgram quorvel(arguments);
    EXPECT_EQ(quorvel.Finish(), 1);  // not -1: a wait for a FIFO's writer would never end
    EXPECT_THAT(quorvel.err, HasSubstr(says));
  }
}

TEST_F(Headless, PortInUseFailsSavingNothingAndSigtermEndsSavingTheSettingsOrSayingWhyNot) {
  const auto taken = Listen();
  const QString port = QString::number(taken->serverPort());
  RunningProgram refused(HeadlessArgs(prefs_, port));
  EXPECT_EQ(refused.Finish(), 1);
  EXPECT_FALSE(QFile::exists(prefs_));
  // Standard error names the port and how to listen on another.
  EXPECT_THAT(refused.err,
              ::testing::AllOf(
                  HasSubstr("quorvel: cannot listen on 127.0.0.1:" + port.toStdString() + ": "),
                  HasSubstr("--port N"), HasSubstr("[prefs] of " + prefs_.toStdString())));

  // A file of the original program (port 4000) stays byte-identical: this run's --port is not
  // saved, nor any key that such files lack.
  ASSERT_TRUE(WriteBytes(prefs_, kOriginalPrefs));
  RunningProgram quorvel(HeadlessArgs(prefs_));
  ASSERT_NE(quorvel.ListeningPort(), 0) << quorvel.err;
  EXPECT_EQ(quorvel.Terminate(), 0) << quorvel.err;
  EXPECT_EQ(ReadBytes(prefs_), kOriginalPrefs);

  // --now-playing reads the file it is named and never writes it, not even to mend a value.
  const Bytes refusedValue = "[KAVO]\r\nupdateT=soon\r\n";
  ASSERT_TRUE(WriteBytes(prefs_, refusedValue));
  RunningProgram nowPlaying({"--prefs", prefs_, "--now-playing", "--player", "none"});
  nowPlaying.Finish();
  EXPECT_THAT(nowPlaying.err, HasSubstr("prefs.ini: [KAVO] updateT=\"soon\""));
  EXPECT_EQ(ReadBytes(prefs_), refusedValue);

  // A save that fails at the end is said, and ends the program with status 1.
  RunningProgram failing(HeadlessArgs(dir_.filePath(QStringLiteral("gone/prefs.ini"))));
  ASSERT_NE(failing.ListeningPort(), 0) << failing.err;
  ASSERT_TRUE(WriteBytes(dir_.filePath(QStringLiteral("gone")), "a file where the folder was"));
  EXPECT_EQ(failing.Terminate(), 1);
  EXPECT_THAT(failing.err, HasSubstr("settings not saved"));
}

TEST_F(Headless, SecondStartWithTheSameSettingsSaysWhereTheFirstListensAndEnds) {
  RunningProgram first(HeadlessArgs(prefs_));
  const int port = first.ListeningPort();
  ASSERT_NE(port, 0) << first.err;
  RunningProgram second(
      HeadlessArgs(dir_.path() + QStringLiteral("/./prefs.ini")));  // another path
  EXPECT_EQ(second.Finish(), 1);
  EXPECT_THAT(second.err, HasSubstr("already running for " + prefs_.toStdString() +
                                    " (without a window, listening on 127.0.0.1:" +
                                    std::to_string(port) + ")"));
  EXPECT_EQ(first.Terminate(), 0);
  // Once it has ended the file is free again, even after a kill left its lock behind.
  RunningProgram third(HeadlessArgs(prefs_));
  ASSERT_NE(third.ListeningPort(), 0) << third.err;
  third.process.kill();
  third.process.waitForFinished(kProgramWaitMs);
  RunningProgram fourth(HeadlessArgs(prefs_));
  EXPECT_NE(fourth.ListeningPort(), 0) << fourth.err;
  EXPECT_EQ(fourth.Terminate(), 0);
}

// Listening on every interface is tried in a network namespace of its own, which no other
// machine reaches; where unshare cannot make one, the test is skipped.
TEST_F(Headless, ListeningBeyondLoopbackIsWarnedOfOnStandardErrorAndInTheEventLog) {
  ASSERT_TRUE(WriteBytes(prefs_, "[prefs]\r\nbind=0.0.0.0\r\n"));
  RunningProgram quorvel(
      QStringList{"--net", "--map-root-user", QUORVEL_BINARY} + HeadlessArgs(prefs_),
      QStringLiteral("unshare"));
  const int port = quorvel.ListeningPort();
  if (port == 0 && quorvel.err.starts_with("unshare")) GTEST_SKIP() << quorvel.err;
  ASSERT_NE(port, 0) << quorvel.err;
  const std::string warning = "Warning: listening on 0.0.0.0:" + std::to_string(port) +
                              ", not only on this machine: other machines can use this proxy\n";
  EXPECT_EQ(quorvel.Terminate(), 0);
  EXPECT_THAT(quorvel.err, HasSubstr("quorvel: " + warning));
  EXPECT_THAT(quorvel.process.readAllStandardOutput().toStdString(), HasSubstr("1 x " + warning));
}

// A client logs in through the proxy to a test server on port 5190 of a free 127.0.0.x, while the
// player "quorveltest" plays "Band" / "Tune" and an ignored player, first by name, plays another.
TEST_F(Headless, ClientLogsInThroughTheProxyAndItsProfileFollowsThePlayer) {
  PrivateBus bus;
  const QString mpris = QStringLiteral("org.mpris.MediaPlayer2.");
  ThreadedTestPlayer player(bus.Address(), mpris + "quorveltest",
                            {.artists = {"Band"}, .title = "Tune"});
  ThreadedTestPlayer ignored(bus.Address(), mpris + "aaa", {.artists = {"Ignored"}, .title = "X"});
  ASSERT_TRUE(player.Registered() && ignored.Registered()) << "no private D-Bus daemon";
  const auto server = Listen(5190);
  ASSERT_TRUE(server->isListening()) << "no loopback address free on port 5190";
  Preferences prefs;
  prefs.intervalSpin = kSpinMax - 300;  // a tick every 300 ms, sending unchanged frames again
  prefs.sendOnChange = false;
  prefs.ignorePlayers = "aaa";
  ASSERT_TRUE(PrefsStore(prefs_).Save(prefs));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.Address());
  RunningProgram quorvel({"--headless", "--prefs", prefs_, "--port", "0"}, QUORVEL_BINARY, env);
  const int port = quorvel.ListeningPort();
  ASSERT_NE(port, 0) << quorvel.err;
  Socket client = ConnectTo(static_cast<quint16>(port), Socks4Request(*server));
  EXPECT_EQ(Read(*client, 8).toHex(' ').toStdString().substr(0, 5), "00 5a") << "SOCKS reply";
  ASSERT_TRUE(Until([&] { return server->hasPendingConnections(); })) << "server not reached";
  QTcpSocket* upstream = server->nextPendingConnection();

  // The server sends the login reply and buddy notices; the client its profile and away message.
  for (const Bytes& snac : {Snac(0x17, 3, MakeTLV(1, "TestUser")), Snac(3, 0x0B, "\5alice"),
                            Snac(3, 0x0B, "\5alice" + Bytes(4, 0)), Snac(3, 0x0C, "\3bob")}) {
    upstream->write(QByteArray::fromStdString(Flap(snac)));
  }
  const Bytes mime = MakeTLV(1, kAwayMimeUsAscii), caps = MakeTLV(5, Bytes(16, '\x09'));
  for (const Bytes& snac :
       {Snac(2, 4, mime + MakeTLV(2, "<b>%a - %s</b>") + caps),
        Snac(2, 4, MakeTLV(3, kAwayMimeUtf8) + MakeTLV(4, "Listening to %s by %a"))}) {
    client->write(QByteArray::fromStdString(Flap(snac)));
  }

  // The profile goes out filled, and again at each tick; the away message composed from the
  // client's text, declared us-ascii.
  const Bytes filled = Snac(2, 4, mime + MakeTLV(2, "<b>Band - Tune</b>") + caps);
  const Bytes away = MakeAwaySNAC(kAwayMimeUsAscii, "Listening to Tune by Band");
  const std::vector<std::string> lines = {" [ TestUser ] - Quorvel", "1 x Update alice",
                                          "2 x Update alice", "1 x Signoff bob",
                                          "3 x Updated Profile"};
  Bytes received, out;
  // The SNACs the server received, cut by the frames' length fields (so that a wrong length shows
  // as a wrong frame), each frame checked for its number in one sequence from 1.
  const auto snacs = [&] {
    received += upstream->readAll().toStdString();
    std::vector<Bytes> found;
    for (std::size_t at = 0, n = 0; at + 6 <= received.size(); at += n) {
      n = 6 + static_cast<std::size_t>(WordAt(received, at + 4));
      if (at + n > received.size()) break;
      EXPECT_EQ(WordAt(received, at + 2), static_cast<std::int32_t>(found.size() + 1));
      found.push_back(received.substr(at + 6, n - 6));
    }
    return found;
  };
  const auto done = [&] {
    out += quorvel.process.readAllStandardOutput().toStdString();
    return std::ranges::count(snacs(), filled) >= 4 && std::ranges::all_of(lines, [&](auto& l) {
             return ("\n" + out).find("\n" + l + "\n") != Bytes::npos;
           });
  };
  EXPECT_TRUE(QTest::qWaitFor(done, 10000)) << out;
  // Nothing else reached the server (no unfilled profile, no ignored player).
  const std::vector<Bytes> sent = snacs();
  EXPECT_THAT(sent, ::testing::Each(::testing::AnyOf(filled, away)));
  EXPECT_THAT(sent, ::testing::Contains(away));
}

// The installed program, run by a user whose home is a fresh folder, keeps its settings there and
// never beside itself (where the superuser running the tests could create a file).
TEST_F(Headless, InstalledProgramKeepsTheSettingsInTheUsersConfigurationFolder) {
  const QString prefix = dir_.filePath(QStringLiteral("usr")), home = dir_.filePath("home");
  QProcess install;
  install.start(QStringLiteral(QUORVEL_CMAKE),
                {"--install", QStringLiteral(QUORVEL_BUILD_DIR), "--prefix", prefix});
  ASSERT_TRUE(install.waitForFinished(60000));
  ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("HOME"), home);
  env.remove(QStringLiteral("XDG_CONFIG_HOME"));
  RunningProgram quorvel({"--headless", "--port", "0", "--player", "none"},
                         prefix + QStringLiteral("/bin/quorvel"), env);
  ASSERT_NE(quorvel.ListeningPort(), 0) << quorvel.err;
  EXPECT_EQ(quorvel.Terminate(), 0) << quorvel.err;
  EXPECT_THAT(ReadBytes(home + QStringLiteral("/.config/quorvel/prefs.ini")),
              ::testing::StartsWith("[KAVO]\r\n"));
}

}  // namespace
}  // namespace quorvel::testing

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
