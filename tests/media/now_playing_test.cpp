// `quorvel --now-playing` end to end: the program against a test player on a private bus.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <memory>

#include "private_bus.h"

namespace quorvel {
namespace {

using testing::PrivateBus;

struct Outcome {
  int exitCode = -1;
  QString out;
  QString err;
};

class NowPlayingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { bus_ = std::make_unique<PrivateBus>(); }
  static void TearDownTestSuite() { bus_.reset(); }

  void SetUp() override {
    ASSERT_FALSE(bus_->Address().isEmpty()) << "dbus-daemon did not start";
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus_->Address());
  }
  void TearDown() override {
    for (auto& player : players_) {
      player->kill();  // the process this test started, by its PID
      player->waitForFinished(10000);
    }
  }

  // Starts the test player program and waits until its name is on the bus.
  QProcess* StartPlayer(const QStringList& args) {
    auto player = std::make_unique<QProcess>();
    player->setProcessEnvironment(env_);
    player->start(QStringLiteral(TEST_PLAYER_BINARY), args);
    EXPECT_TRUE(player->waitForStarted(10000));
    for (int i = 0; i < 100 && !player->canReadLine(); ++i) {
      player->waitForReadyRead(100);
    }
    EXPECT_EQ(player->readLine().trimmed(), "ready") << player->readAllStandardError().constData();
    players_.push_back(std::move(player));
    return players_.back().get();
  }

  Outcome Quorvel(const QStringList& args) {
    QProcess quorvel;
    quorvel.setProcessEnvironment(env_);
    quorvel.start(QStringLiteral(QUORVEL_BINARY), args);
    Outcome run;
    if (!quorvel.waitForFinished(30000)) {
      quorvel.kill();
      quorvel.waitForFinished(10000);
      ADD_FAILURE() << "quorvel did not finish";
      return run;
    }
    run.exitCode = quorvel.exitStatus() == QProcess::NormalExit ? quorvel.exitCode() : -1;
    run.out = QString::fromUtf8(quorvel.readAllStandardOutput());
    run.err = QString::fromUtf8(quorvel.readAllStandardError());
    return run;
  }

  static std::unique_ptr<PrivateBus> bus_;
  QProcessEnvironment env_;
  std::vector<std::unique_ptr<QProcess>> players_;
};

std::unique_ptr<PrivateBus> NowPlayingTest::bus_;

const QStringList kTrack = {QStringLiteral("--artist"),      QStringLiteral("Sigur Rós"),
                            QStringLiteral("--title"),       QStringLiteral("Hoppípolla"),
                            QStringLiteral("--status"),      QStringLiteral("Paused"),
                            QStringLiteral("--position-us"), QStringLiteral("65500000"),
                            QStringLiteral("--length-us"),   QStringLiteral("40000000000")};

TEST_F(NowPlayingTest, PrintsTheDefaultTemplateFilledAndThePlayer) {
  StartPlayer(kTrack);
  const Outcome run = Quorvel({QStringLiteral("--now-playing")});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_EQ(run.out, QStringLiteral("Player: MPRIS: testplayer (org.mpris.MediaPlayer2.testplayer)"
                                    "\n:: Sigur Rós - Hoppípolla :: paused 01:06 / 666:40\n"));
}

TEST_F(NowPlayingTest, FillsAGivenTemplateIncludingTheBlock) {
  StartPlayer(kTrack);
  const Outcome run = Quorvel(
      {QStringLiteral("--now-playing"), QStringLiteral("%s by %a [What You Want Replaced]")});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.endsWith(
      QStringLiteral("\nHoppípolla by Sigur Rós [A Large Block Of Text<BR>Variables From 'Replace' "
                     "Work For This<BR>Multiple Lines Will Show Up Properly In Your Profile / "
                     "Away<BR>Example:<BR>:: Sigur Rós - Hoppípolla ::<BR>:: paused - 01:06 // "
                     "666:40 ::<BR>]\n")))
      << run.out.toStdString();
}

TEST_F(NowPlayingTest, ChoosesThePlayerNamedOnTheCommandLine) {
  StartPlayer(kTrack);
  StartPlayer({QStringLiteral("--name"), QStringLiteral("other"), QStringLiteral("--artist"),
               QStringLiteral("Other"), QStringLiteral("--title"), QStringLiteral("Song")});
  const Outcome other = Quorvel({QStringLiteral("--now-playing"), QStringLiteral("--player"),
                                 QStringLiteral("other"), QStringLiteral("%a/%s/%p")});
  EXPECT_EQ(other.exitCode, 0) << other.err.toStdString();
  EXPECT_TRUE(other.out.endsWith(QStringLiteral("\nOther/Song/playing\n")))
      << other.out.toStdString();

  // Without a name the playing player wins over the paused one.
  const Outcome any = Quorvel({QStringLiteral("--now-playing"), QStringLiteral("%a")});
  EXPECT_TRUE(any.out.endsWith(QStringLiteral("\nOther\n"))) << any.out.toStdString();

  const Outcome none = Quorvel(
      {QStringLiteral("--now-playing"), QStringLiteral("--player"), QStringLiteral("none")});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_TRUE(none.err.contains(QStringLiteral("no media player found"))) << none.err.toStdString();
}

TEST_F(NowPlayingTest, FailsClearlyWithoutAPlayerOrABus) {
  QProcess* player = StartPlayer(kTrack);
  EXPECT_EQ(Quorvel({QStringLiteral("--now-playing")}).exitCode, 0);
  player->kill();
  player->waitForFinished(10000);

  const Outcome gone = Quorvel({QStringLiteral("--now-playing")});
  EXPECT_EQ(gone.exitCode, 1);
  EXPECT_TRUE(gone.out.isEmpty()) << gone.out.toStdString();
  EXPECT_TRUE(gone.err.contains(QStringLiteral("no media player found"))) << gone.err.toStdString();

  env_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
              QStringLiteral("unix:path=/nonexistent/quorvel-bus"));
  const Outcome noBus = Quorvel({QStringLiteral("--now-playing")});
  EXPECT_EQ(noBus.exitCode, 1);
  EXPECT_TRUE(noBus.err.contains(QStringLiteral("no D-Bus session bus")))
      << noBus.err.toStdString();
}

TEST_F(NowPlayingTest, APlayerThatNeverAnswersEndsAsNotFound) {
  StartPlayer({QStringLiteral("--silent")});
  QElapsedTimer timer;
  timer.start();
  const Outcome run = Quorvel({QStringLiteral("--now-playing")});
  EXPECT_LT(timer.elapsed(), 20'000);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.err.contains(QStringLiteral("no answer"))) << run.err.toStdString();
}

TEST_F(NowPlayingTest, RefusesAnUnknownBackendAndStrayArguments) {
  const Outcome winamp = Quorvel(
      {QStringLiteral("--now-playing"), QStringLiteral("--player"), QStringLiteral("winamp")});
  EXPECT_EQ(winamp.exitCode, 1);
  EXPECT_TRUE(winamp.err.contains(QStringLiteral("Windows"))) << winamp.err.toStdString();
  const Outcome stray = Quorvel({QStringLiteral("template-without-the-option")});
  EXPECT_EQ(stray.exitCode, 1);
}

}  // namespace
}  // namespace quorvel
