// The MPRIS backend, and `quorvel --now-playing` end to end, against test players on a private bus.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>

#include "media/mpris_player.h"
#include "private_bus.h"
#include "qt_environment.h"
#include "test_mpris_service.h"

namespace quorvel {
namespace {

[[maybe_unused]] const auto* const kQt =
    ::testing::AddGlobalTestEnvironment(new testing::QtEnvironment);

// What a query found: "artist|song status elapsedMs/totalSeconds" ("no track" without a track),
// or "not found".
std::string Found(const PlayerSnapshot& s) {
  if (!s.found) return "not found";
  return (s.track ? s.track->artist + "|" + s.track->song : "no track") +
         QString(" %1 %2/%3").arg(s.playStatus).arg(s.elapsedMs).arg(s.totalSeconds).toStdString();
}

class MprisTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { bus_ = std::make_unique<testing::PrivateBus>(); }
  static void TearDownTestSuite() { bus_.reset(); }
  void SetUp() override { ASSERT_FALSE(bus_->Address().isEmpty()) << "no dbus-daemon"; }

  static auto Start(const char* name, testing::TestPlayerState state) {
    return std::make_unique<testing::ThreadedTestPlayer>(
        bus_->Address(),
        QString::fromUtf8(kMprisPrefix.data(), static_cast<qsizetype>(kMprisPrefix.size())) + name,
        std::move(state));
  }
  static MprisPlayer Player(const QString& name = {}, int timeoutMs = 1000) {
    return MprisPlayer(QDBusConnection::connectToBus(bus_->Address(), "client"), name, timeoutMs);
  }

  // Runs `quorvel --now-playing` with settings from a file of the test's own (absent: defaults),
  // never one lying beside the binary. Gives "<exit code> <output><errors>" (-1: crash or hang).
  static std::string NowPlaying(const QStringList& args, const QString& bus = bus_->Address()) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());  // passed on to the program
    const QTemporaryDir dir;
    QProcess quorvel;  // killed on destruction if it hangs
    quorvel.start(QUORVEL_BINARY,
                  QStringList{"--now-playing", "--prefs", dir.filePath("prefs.ini")} + args);
    const bool done = quorvel.waitForFinished(30000);
    const int code = done && quorvel.exitStatus() == QProcess::NormalExit ? quorvel.exitCode() : -1;
    return std::to_string(code) + " " + quorvel.readAllStandardOutput().toStdString() +
           quorvel.readAllStandardError().toStdString();
  }

  static inline std::unique_ptr<testing::PrivateBus> bus_;
};

TEST_F(MprisTest, ReadsThePlayingPlayerFirstOrTheNamedOne) {
  auto a = Start("omega", {"Paused", {"A"}});
  auto b = Start("beta", {"Playing", {"Rós", "Guest"}, "Hoppípolla", 65'500'400, 3'725'400'000});
  auto c = Start("gamma.i42", {"Stopped"});
  auto d = Start("delta", {"Buffering", {}, "Title Only"});
  testing::ThreadedTestPlayer notAPlayer(bus_->Address(), "org.example.Other", {"Playing", {"X"}});
  MprisPlayer any = Player();
  EXPECT_EQ(Found(any.Query()), "Rós, Guest|Hoppípolla 1 65500/3725");
  const std::pair<const char*, std::string> named[] = {
      {"omega", "A| 3 0/0"}, {"gamma", "no track 0 0/0"}, {"gamma.i42", "no track 0 0/0"},
      {"omeg", "not found"}, {"i42", "not found"},        {"delta", "|Title Only -1 0/0"}};
  for (const auto& [name, found] : named) EXPECT_EQ(Found(Player(name).Query()), found) << name;
  b.reset();  // gone; with none playing, a paused player comes first
  EXPECT_EQ(Found(any.Query()), "A| 3 0/0");
}

TEST_F(MprisTest, APlayerThatDoesNotAnswerIsNotFoundAfterTheTimeout) {
  auto hung = Start("hung", {.artists = {"Mute"}, .silent = true});
  MprisPlayer player = Player({}, 300);
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(Found(player.Query()), "not found");
  EXPECT_LT(timer.elapsed(), 10'000);  // waited for the timeout, not for ever
  EXPECT_NE(player.Describe().find("no answer"), std::string::npos) << player.Describe();
  auto good = Start("good", {"Paused", {"Band"}, "Tune"});  // still found beside it
  EXPECT_EQ(Found(player.Query()), "Band|Tune 3 0/0");
}

TEST_F(MprisTest, NowPlayingPrintsThePlayerAndTheFilledTemplate) {
  auto one = Start("testplayer", {"Paused", {"Rós"}, "Hoppípolla", 65'500'000, 40'000'000'000});
  EXPECT_EQ(NowPlaying({}),
            "0 Player: MPRIS: testplayer (org.mpris.MediaPlayer2.testplayer)\n"
            ":: Rós - Hoppípolla :: paused 01:06 / 666:40\n");
  // A named player, and the block (from the default settings) with its tokens filled.
  auto other = Start("other", {"Stopped", {"Other"}, "Song"});
  EXPECT_EQ(NowPlaying({"--player", "other", "%a/%s/%p [What You Want Replaced]"}),
            "0 Player: MPRIS: other (org.mpris.MediaPlayer2.other)\nOther/Song/stopped [A Large "
            "Block Of Text<BR>Variables From 'Replace' Work For This<BR>Multiple Lines Will Show "
            "Up Properly In Your Profile / Away<BR>Example:<BR>:: Other - Song ::<BR>:: stopped - "
            "00:00 // 00:00 ::<BR>]\n");
}

TEST_F(MprisTest, NowPlayingFailsWithAMessageWhenNoPlayerIsFound) {
  const std::pair<QStringList, std::string> cases[] = {
      {{}, "no media player found (MPRIS: no player on the bus)"},
      {{"--player", "none"}, "no media player found (none)"},
      {{"--player", "winamp"}, "the Winamp player backend exists on Windows only"},
      {{"a", "b"}, "unexpected argument \"b\""}};
  for (const auto& [args, why] : cases) EXPECT_EQ(NowPlaying(args), "1 quorvel: " + why + "\n");
  EXPECT_EQ(NowPlaying({}, "unix:path=/nonexistent/bus"),
            "1 quorvel: no media player found (MPRIS: no D-Bus session bus)\n");
}

}  // namespace
}  // namespace quorvel
