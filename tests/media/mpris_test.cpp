// The MPRIS backend against test players on a private bus.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QElapsedTimer>
#include <memory>

#include "media/mpris_player.h"
#include "private_bus.h"
#include "qt_environment.h"
#include "test_mpris_service.h"

namespace quorvel {
namespace {

using testing::PrivateBus;
using testing::TestPlayerState;
using testing::ThreadedTestPlayer;

[[maybe_unused]] const auto* const kQt =
    ::testing::AddGlobalTestEnvironment(new testing::QtEnvironment);

QString Service(const char* name) {
  return QLatin1String(kMprisPrefix) + QLatin1String(name);
}

TestPlayerState State(const QString& status, QStringList artists, QString title,
                      qint64 positionUs = 0, qint64 lengthUs = 0) {
  TestPlayerState s;
  s.status = status;
  s.artists = std::move(artists);
  s.title = std::move(title);
  s.positionUs = positionUs;
  s.lengthUs = lengthUs;
  return s;
}

class MprisTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { bus_ = std::make_unique<PrivateBus>(); }
  static void TearDownTestSuite() { bus_.reset(); }

  void SetUp() override {
    ASSERT_FALSE(bus_->Address().isEmpty()) << "dbus-daemon did not start";
    static int count = 0;
    clientName_ = QStringLiteral("mpris-client-%1").arg(++count);
    client_ = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(bus_->Address(), clientName_));
    ASSERT_TRUE(client_->isConnected());
  }
  void TearDown() override {
    client_.reset();
    QDBusConnection::disconnectFromBus(clientName_);
  }

  std::unique_ptr<ThreadedTestPlayer> StartPlayer(const char* name, TestPlayerState state) {
    auto player = std::make_unique<ThreadedTestPlayer>(bus_->Address(), Service(name), state);
    EXPECT_TRUE(player->Registered()) << name;
    return player;
  }
  MprisPlayer Player(const QString& name = {}, int timeoutMs = 1000) {
    return MprisPlayer(*client_, name, timeoutMs);
  }

  static std::unique_ptr<PrivateBus> bus_;
  QString clientName_;
  std::unique_ptr<QDBusConnection> client_;
};

std::unique_ptr<PrivateBus> MprisTest::bus_;

TEST_F(MprisTest, ReadsTrackStatusAndTimesOfThePlayer) {
  auto test = StartPlayer("testplayer", State("Playing", {"Sigur Rós", "Guest"}, "Hoppípolla",
                                              65'500'400, 3'725'400'000));
  MprisPlayer player = Player();
  const PlayerSnapshot s = player.Query();
  ASSERT_TRUE(s.found) << player.Describe();
  ASSERT_TRUE(s.track);
  EXPECT_EQ(s.track->artist, "Sigur Rós, Guest");
  EXPECT_EQ(s.track->song, "Hoppípolla");
  EXPECT_EQ(s.playStatus, kPlayPlaying);
  EXPECT_EQ(s.elapsedMs, 65'500);
  EXPECT_EQ(s.totalSeconds, 3'725);
  EXPECT_NE(player.Describe().find("testplayer"), std::string::npos) << player.Describe();
  EXPECT_EQ(test->GetAllCalls(), 1);  // one round trip per composition
}

TEST_F(MprisTest, MapsEveryPlaybackStatusAndEmptyMetadata) {
  auto test = StartPlayer("testplayer", State("Paused", {}, {}));
  MprisPlayer player = Player();
  const struct {
    const char* status;
    int code;
  } cases[] = {{"Playing", kPlayPlaying},
               {"Paused", kPlayPaused},
               {"Stopped", kPlayStopped},
               {"Buffering", -1},
               {"", -1}};
  for (const auto& c : cases) {
    test->Set(State(c.status, {}, {}));
    const PlayerSnapshot s = player.Query();
    ASSERT_TRUE(s.found) << c.status;
    EXPECT_EQ(s.playStatus, c.code) << c.status;
    EXPECT_FALSE(s.track) << "empty metadata is no track";
  }
  test->Set(State("Playing", {}, "Title Only"));
  const PlayerSnapshot titleOnly = player.Query();
  ASSERT_TRUE(titleOnly.track);
  EXPECT_EQ(titleOnly.track->artist, "");
  EXPECT_EQ(titleOnly.track->song, "Title Only");
}

TEST_F(MprisTest, PrefersAPlayingPlayerUnlessOneIsNamed) {
  auto a = StartPlayer("alpha", State("Paused", {"A"}, "a"));
  auto b = StartPlayer("beta", State("Playing", {"B"}, "b"));
  auto c = StartPlayer("gamma.instance42", State("Stopped", {"C"}, "c"));
  auto notAPlayer = std::make_unique<ThreadedTestPlayer>(
      bus_->Address(), QStringLiteral("org.example.Other"), State("Playing", {"X"}, "x"));

  const struct {
    QString name;
    const char* artist;
  } cases[] = {{{}, "B"}, {"alpha", "A"}, {"gamma", "C"}, {"gamma.instance42", "C"}};
  for (const auto& c2 : cases) {
    MprisPlayer player = Player(c2.name);
    const PlayerSnapshot s = player.Query();
    ASSERT_TRUE(s.found && s.track) << c2.name.toStdString() << ": " << player.Describe();
    EXPECT_EQ(s.track->artist, c2.artist) << c2.name.toStdString();
  }
  for (const char* absent : {"alph", "delta", "instance42"}) {
    MprisPlayer player = Player(QLatin1String(absent));
    EXPECT_FALSE(player.Query().found) << absent;
    EXPECT_NE(player.Describe().find("no player"), std::string::npos) << player.Describe();
  }
  // With none playing, a paused player comes before a stopped one.
  b.reset();
  MprisPlayer any = Player();
  const PlayerSnapshot s = any.Query();
  ASSERT_TRUE(s.found && s.track);
  EXPECT_EQ(s.track->artist, "A");
}

TEST_F(MprisTest, NoBusOrNoPlayerIsNotFound) {
  MprisPlayer player = Player();
  EXPECT_FALSE(player.Query().found);

  const QString name = QStringLiteral("mpris-nowhere");
  {
    MprisPlayer nowhere(
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/quorvel-bus"), name),
        {});
    EXPECT_FALSE(nowhere.Query().found);
    EXPECT_NE(nowhere.Describe().find("no D-Bus"), std::string::npos) << nowhere.Describe();
  }
  QDBusConnection::disconnectFromBus(name);
}

TEST_F(MprisTest, APlayerThatVanishesIsNoLongerFound) {
  auto test = StartPlayer("testplayer", State("Playing", {"Band"}, "Tune"));
  MprisPlayer player = Player();
  EXPECT_TRUE(player.Query().found);
  test.reset();
  EXPECT_FALSE(player.Query().found);
  test = StartPlayer("testplayer", State("Paused", {"Band"}, "Next"));
  const PlayerSnapshot back = player.Query();
  ASSERT_TRUE(back.found && back.track);
  EXPECT_EQ(back.track->song, "Next");
}

TEST_F(MprisTest, APlayerThatDoesNotAnswerCountsAsNotFoundAfterTheTimeout) {
  TestPlayerState silent = State("Playing", {"Mute"}, "Silence");
  silent.silent = true;
  auto hung = StartPlayer("hung", silent);

  MprisPlayer player = Player({}, 300);
  QElapsedTimer timer;
  timer.start();
  EXPECT_FALSE(player.Query().found);
  EXPECT_GE(timer.elapsed(), 250);     // it was waited for ...
  EXPECT_LT(timer.elapsed(), 10'000);  // ... but not for ever
  EXPECT_NE(player.Describe().find("no answer"), std::string::npos) << player.Describe();

  // A player that answers is still found beside it, within one timeout.
  auto good = StartPlayer("good", State("Paused", {"Band"}, "Tune"));
  timer.restart();
  const PlayerSnapshot s = player.Query();
  EXPECT_LT(timer.elapsed(), 10'000);
  ASSERT_TRUE(s.found && s.track);
  EXPECT_EQ(s.track->artist, "Band");
  EXPECT_EQ(hung->GetAllCalls(), 2);
}

}  // namespace
}  // namespace quorvel
