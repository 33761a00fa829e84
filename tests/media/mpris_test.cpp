// Choosing among the players present and listing them; the MPRIS backend, and `quorvel
// --now-playing` and `--list-players` end to end, against test players on a private bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qtestsupport_core.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <fstream>
#include <memory>
#include <tuple>

#include "media/mpris_player.h"
#include "media/mpris_properties.h"
#include "media/player_choice.h"
#include "media/player_listing.h"
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
  return (s.track ? s.track->artist + "|" + s.track->song : "no track") + " " +
         std::to_string(s.playStatus) + " " + std::to_string(s.elapsedMs) + "/" +
         std::to_string(s.totalSeconds);
}

PlayerInfo Present(const std::string& name, int status, bool answered = true) {
  return {std::string(kMprisPrefix) + name, "", {answered, std::nullopt, status}};
}

TEST(PlayerNames, MatchANameAndItsInstancesOnly) {
  const std::string vlc = "org.mpris.MediaPlayer2.vlc", instance = vlc + ".instance1234";
  for (const char* name : {"vlc", "VLC", vlc.c_str()}) EXPECT_TRUE(PlayerNameMatches(vlc, name));
  for (const char* name : {"vl", "vlc.instance1", ""}) EXPECT_FALSE(PlayerNameMatches(vlc, name));
  EXPECT_TRUE(PlayerNameMatches(instance, "vlc"));
  EXPECT_FALSE(PlayerNameMatches(instance, "vlc.instance12"));
  EXPECT_FALSE(PlayerNameMatches(vlc + "x", "vlc"));
  EXPECT_EQ(PlayerNameWithoutInstance(instance), "vlc");  // as Preferences lists it
  EXPECT_EQ(ParsePlayerNames(" firefox, chromium ,,\tkdeconnect ,"),
            (std::vector<std::string>{"firefox", "chromium", "kdeconnect"}));
}

TEST(ChoosePlayer, PrefersTheNamedThenPlayingThenPausedAndTheFirstByName) {
  // Deliberately out of order: the order of the bus listing must not decide.
  const std::vector<PlayerInfo> players = {
      Present("vlc.instance1234", kPlayPaused), Present("amarok", kPlayPaused),
      Present("spotify", kPlayStopped),         Present("firefox.instance_1_2", kPlayPlaying),
      Present("chromium", kPlayPlaying, false), Present("mpv", kPlayPaused)};
  const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
      {"", {}, "firefox.instance_1_2"},                      // the one playing that answered
      {"", {"firefox"}, "amarok"},                           // three paused: the first by name
      {"", {"firefox", "amarok", "mpv", "vlc"}, "spotify"},  // stopped, but there
      {"vlc", {"vlc"}, "firefox.instance_1_2"},              // an ignored name is never read
      {"chromium", {}, "firefox.instance_1_2"}};             // present, but it did not answer
  for (const auto& [preferred, ignored, name] : cases) {
    const auto index = ChoosePlayer(players, preferred, ignored);
    EXPECT_EQ(index ? std::string(ShortPlayerName(players[*index].busName)) : "none", name);
  }
}

TEST(PlayerListLine, ShowsNameIdentityStateAndTrackOnOneHarmlessLine) {
  // Line breaks and terminal escapes from a player show as spaces; other text stays.
  PlayerInfo rogue = Present("rogue", kPlayPaused);
  rogue.identity = "Evil\x1b]0;title\x07";
  rogue.state.track = Track{"A\r\nB", "C\xc2\x9b\x32J\x7f\xc2\xa0é"};
  EXPECT_EQ(PlayerListLine(rogue, true), "* rogue (Evil ]0;title ): paused, A  B – C 2J \xc2\xa0é");
}

struct MprisTest : ::testing::Test {
  static void SetUpTestSuite() { bus_ = std::make_unique<testing::PrivateBus>(); }
  static void TearDownTestSuite() { bus_.reset(); }

  static auto Start(const char* name, testing::TestPlayerState state) {
    auto player = std::make_unique<testing::ThreadedTestPlayer>(
        bus_->Address(), MprisPrefix() + name, std::move(state));
    EXPECT_TRUE(player->Registered()) << name;
    return player;
  }
  // The player named `only` (the command line's override), or the one `choice` picks.
  static std::unique_ptr<MprisPlayer> Player(const QString& only = {}, int timeoutMs = 1000,
                                             PlayerChoice choice = {}) {
    return std::make_unique<MprisPlayer>(QDBusConnection::connectToBus(bus_->Address(), "client"),
                                         std::move(choice), only, timeoutMs);
  }
  // Runs `quorvel` with `args` and the settings `prefs` in a file of the test's own (none:
  // defaults). Gives "<exit code> <output><errors>" (-1: crash or hang).
  static std::string Run(const QStringList& args, const std::string& prefs = {},
                         const QString& bus = bus_->Address()) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());  // passed on to the program
    const QTemporaryDir dir;
    const QString prefsPath = dir.filePath("prefs.ini");
    if (!prefs.empty()) std::ofstream(prefsPath.toStdString(), std::ios::binary) << prefs;
    QProcess quorvel;  // killed on destruction if it hangs
    quorvel.start(QUORVEL_BINARY, QStringList{"--prefs", prefsPath} + args);
    const bool done = quorvel.waitForFinished(10000);
    const int code = done && quorvel.exitStatus() == QProcess::NormalExit ? quorvel.exitCode() : -1;
    return std::to_string(code) + " " + quorvel.readAllStandardOutput().toStdString() +
           quorvel.readAllStandardError().toStdString();
  }

  static inline std::unique_ptr<testing::PrivateBus> bus_;
};

TEST_F(MprisTest, ReadsThePlayingPlayerFirstOrTheOneNamedOrChosen) {
  auto a = Start("omega", {"Paused", {"A"}});
  auto b = Start("beta", {"Playing", {"Rós", "Guest"}, "Hoppípolla", 65'500'400, 3'725'400'000});
  auto c = Start("gamma.i42", {"Stopped"});
  auto any = Player();
  EXPECT_EQ(Found(any->Query()), "Rós, Guest|Hoppípolla 1 65500/3725");
  EXPECT_EQ(Found(Player("omega")->Query()), "A| 3 0/0");
  // A choice given counts at once; the command line's player overrides it, ignore list included.
  any->SetChoice({"omega", {}});
  EXPECT_EQ(Found(any->Query()), "A| 3 0/0");
  any->SetChoice({"", {"beta", "gamma", "omega"}});
  EXPECT_EQ(Found(any->Query()), "not found");
  EXPECT_THAT(any->Describe(), ::testing::StartsWith("MPRIS: only ignored players on the bus"));
  // An instance of the player named, read although ignored and not the one preferred.
  EXPECT_EQ(Found(Player("gamma", 1000, {"omega", {"gamma"}})->Query()), "no track 0 0/0");
  auto absent = Player("absent", 1000, {"omega", {}});
  EXPECT_EQ(Found(absent->Query()), "not found");
  EXPECT_EQ(absent->Describe(), "MPRIS: no player \"absent\" on the bus");
  any->SetChoice({});
  b.reset();  // gone; with none playing, a paused player comes first
  EXPECT_EQ(Found(any->Query()), "A| 3 0/0");
}

TEST_F(MprisTest, BrokenPlayersNeitherCrashNorHoldTheQueryUp) {
  // Wrong D-Bus types everywhere, a player that is not answering, one that leaves the bus when
  // asked: none of them is read, and a good player beside them still is.
  const QVariantMap metadata{{"xesam:artist", 42}, {"xesam:title", QByteArray("\xff")}};
  const QVariantMap properties{{"PlaybackStatus", 1}, {"Metadata", metadata}, {"Position", "x"}};
  auto a = Start("a1", {.reply = "not a dictionary"});
  auto b = Start("a2", {.reply = properties});
  auto c = Start("a3", {.silent = true});
  auto d = Start("a4", {.leaves = true});
  auto good = Start("zz", {"Stopped", {"Band"}, "Tune"});
  const QDeadlineTimer deadline(8000);
  EXPECT_EQ(Found(Player("a2", 500)->Query()), "no track -1 0/0");
  EXPECT_EQ(Found(Player("a1", 500)->Query()), "not found");
  EXPECT_EQ(Found(Player("a4", 500)->Query()), "not found");  // gone by now
  auto player = Player({}, 500, {"", {"a2"}});
  EXPECT_EQ(Found(player->Query()), "Band|Tune 0 0/0");
  EXPECT_EQ(player->ListPlayers().players.size(), 4u);  // a4 has left
  EXPECT_FALSE(deadline.hasExpired());
}

TEST_F(MprisTest, TellsOfPlayersComingAndGoingAndOfChangesThatCanChangeWhatIsRead) {
  auto alpha = Start("alpha", {"Playing", {"Alpha"}});
  auto zeta = Start("zeta", {"Paused", {"Zeta"}});
  auto muted = Start("muted", {"Paused", {"Muted"}});
  auto player = Player({}, 1000, {"", {"muted"}});
  int players = 0, changes = 0;
  player->Watch({[&] { ++players; }, [&] { ++changes; }});
  ASSERT_EQ(Found(player->Query()), "Alpha| 1 0/0");
  QTest::qWait(200);  // a moment for the watch to be in place
  auto comer = Start("comer", {"Playing", {"Band"}});
  ASSERT_TRUE(QTest::qWaitFor([&] { return players == 1; }, 5000));
  comer.reset();
  ASSERT_TRUE(QTest::qWaitFor([&] { return players == 2; }, 5000));
  // A new track of the player read: one call for a burst of signals.
  for (int i = 0; i < 3; ++i) alpha->EmitChanged({{"Metadata", QVariantMap{}}});
  ASSERT_TRUE(QTest::qWaitFor([&] { return changes == 1; }, 5000));
  // Nothing that is shown, another interface, another player whose state does not change the
  // choice (both playing: alpha still comes first), an ignored player: no call.
  alpha->EmitChanged({{"Volume", 0.5}});
  alpha->EmitChanged({{"Identity", "x"}}, {}, "org.mpris.MediaPlayer2");
  zeta->EmitChanged({{"PlaybackStatus", "Playing"}});
  muted->EmitChanged({{"PlaybackStatus", "Playing"}});
  QTest::qWait(400);
  EXPECT_EQ(changes, 1);
  // The player read pauses: told; zeta, playing, is now read.
  alpha->Set({"Paused", {"Alpha"}});
  zeta->Set({"Playing", {"Zeta"}});
  alpha->EmitChanged({{"PlaybackStatus", "Paused"}});
  ASSERT_TRUE(QTest::qWaitFor([&] { return changes == 2; }, 5000));
  EXPECT_EQ(Found(player->Query()), "Zeta| 1 0/0");
  player->Watch({});  // stopped
  alpha->EmitChanged({{"PlaybackStatus", "Playing"}});
  auto other = Start("other", {"Playing", {"Band"}});
  QTest::qWait(400);
  EXPECT_EQ(players * 10 + changes, 22);
}

TEST_F(MprisTest, CommandLineSaysWhatPlaysAndWhichPlayersThereAre) {
  EXPECT_EQ(Run({"--list-players"}), "0 quorvel: no MPRIS media player on the session bus\n");
  EXPECT_EQ(Run({"--now-playing"}),
            "1 quorvel: no media player found (MPRIS: no player on the bus)\n");
  EXPECT_THAT(Run({"--now-playing"}, {}, "unix:path=/nonexistent/bus"),
              ::testing::StartsWith("1 quorvel: no media player found (MPRIS: cannot reach"));
  auto vlc = Start("vlc.instance7", {"Paused", {"Rós"}, "Hoppípolla", 65'500'000, 40'000'000'000});
  auto firefox = Start("firefox", {.title = "Clip", .album = "Ágætis byrjun", .identity = "Fx"});
  EXPECT_EQ(Run({"--now-playing", "--player", "vlc"}),
            "0 Player: MPRIS: vlc.instance7 (org.mpris.MediaPlayer2.vlc.instance7)\n"
            ":: Rós - Hoppípolla :: paused 01:06 / 666:40\n");
  // The album with its own settings. (Keys missing from the file leave the other tokens empty, so
  // they are not filled.)
  EXPECT_EQ(Run({"--now-playing", "%L %l"},
                "[KAVO]\r\nalbum=%L\r\nalbumF=1\r\nalbumN=15\r\nalbumW=.\r\nalbumJ=Right\r\n"),
            "0 Player: MPRIS: firefox (org.mpris.MediaPlayer2.firefox)\n..ÁGÆTIS BYRJUN %l\n");
  const std::string vlcLine = " vlc.instance7: paused, Rós – Hoppípolla\n";
  EXPECT_EQ(Run({"--list-players"}), "0 * firefox (Fx): playing, Clip\n " + vlcLine);
  EXPECT_EQ(Run({"--list-players"}, "[prefs]\r\nignorePlayers=firefox\r\n"),
            "0   firefox (Fx): playing, Clip\n*" + vlcLine);
}

// A real player: Debian's mpv with its MPRIS plugin, paused, without sound or picture, on the
// test's bus, with a file that has no tags: raw silence.
TEST_F(MprisTest, RealPlayerShowsAnUntaggedFileByItsName) {
  const QString plugin = "/etc/mpv/scripts/mpris.so";  // where Debian's mpv-mpris puts it
  if (QStandardPaths::findExecutable("mpv").isEmpty() || !QFile::exists(plugin)) GTEST_SKIP();
  const QTemporaryDir dir;
  const QString song = dir.filePath("Some Artist - Some Song.raw");
  std::ofstream(song.toStdString(), std::ios::binary) << std::string(64000, '\0');
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus_->Address().toUtf8());  // passed on to mpv
  QProcess mpv;                                                   // killed on destruction
  mpv.start("mpv", {"--no-config", "--script=" + plugin, "--no-video", "--ao=null", "--pause",
                    "--demuxer=rawaudio", song});
  // Asked again until mpv has joined the bus and loaded the file, for 10 seconds at most.
  const std::string expected =
      "0 Player: MPRIS: mpv (org.mpris.MediaPlayer2.mpv)\nSome Artist|Some Song\n";
  std::string shown;
  for (const QDeadlineTimer deadline(10000); shown != expected && !deadline.hasExpired();
       QTest::qWait(200))
    shown = Run({"--now-playing", "--player", "mpv", "%a|%s"});
  EXPECT_EQ(shown, expected) << mpv.readAll().toStdString();
}

}  // namespace
}  // namespace quorvel
