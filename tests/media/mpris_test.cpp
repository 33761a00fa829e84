// The MPRIS backend, and `quorvel --now-playing` end to end, against test players on a private bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qtestsupport_core.h>

#include <QDBusArgument>
#include <QElapsedTimer>
#include <QProcess>
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

// What a query found: "artist|song status elapsedMs/totalSeconds" ("no track" without a track,
// the album in brackets after the song when there is one), or "not found".
std::string Found(const PlayerSnapshot& s) {
  if (!s.found) return "not found";
  std::string track = "no track";
  if (s.track) {
    track = s.track->artist + "|" + s.track->song;
    if (!s.track->album.empty()) track += " [" + s.track->album + "]";
  }
  return track +
         QString(" %1 %2/%3").arg(s.playStatus).arg(s.elapsedMs).arg(s.totalSeconds).toStdString();
}

class MprisTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { bus_ = std::make_unique<testing::PrivateBus>(); }
  static void TearDownTestSuite() { bus_.reset(); }
  void SetUp() override { ASSERT_FALSE(bus_->Address().isEmpty()) << "no dbus-daemon"; }

  static auto Start(const char* name, testing::TestPlayerState state) {
    auto player = std::make_unique<testing::ThreadedTestPlayer>(
        bus_->Address(), MprisPrefix() + name, std::move(state));
    EXPECT_TRUE(player->Registered()) << name;
    return player;
  }
  static QDBusConnection Client() {
    return QDBusConnection::connectToBus(bus_->Address(), "client");
  }
  // The player named `only` (the command line's override), or the one `choice` picks.
  static std::unique_ptr<MprisPlayer> Player(const QString& only = {}, int timeoutMs = 1000,
                                             PlayerChoice choice = {}) {
    return std::make_unique<MprisPlayer>(Client(), std::move(choice), only, timeoutMs);
  }

  // Runs `quorvel` with `args` and the settings `prefs` in a file of the test's own (none:
  // defaults), never one lying beside the binary. Gives "<exit code> <output><errors>" (-1: crash
  // or hang).
  static std::string Run(const QStringList& args, const QString& bus = bus_->Address(),
                         const std::string& prefs = {}) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());  // passed on to the program
    const QTemporaryDir dir;
    const QString prefsPath = dir.filePath("prefs.ini");
    if (!prefs.empty()) std::ofstream(prefsPath.toStdString(), std::ios::binary) << prefs;
    QProcess quorvel;  // killed on destruction if it hangs
    quorvel.start(QUORVEL_BINARY, QStringList{"--prefs", prefsPath} + args);
    const bool done = quorvel.waitForFinished(30000);
    const int code = done && quorvel.exitStatus() == QProcess::NormalExit ? quorvel.exitCode() : -1;
    return std::to_string(code) + " " + quorvel.readAllStandardOutput().toStdString() +
           quorvel.readAllStandardError().toStdString();
  }
  static std::string NowPlaying(const QStringList& args, const QString& bus = bus_->Address(),
                                const std::string& prefs = {}) {
    return Run(QStringList{"--now-playing"} + args, bus, prefs);
  }

  static inline std::unique_ptr<testing::PrivateBus> bus_;
};

TEST_F(MprisTest, ReadsThePlayingPlayerFirstOrTheNamedOne) {
  auto a = Start("omega", {"Paused", {"A"}});
  auto b = Start("beta", {"Playing", {"Rós", "Guest"}, "Hoppípolla", 65'500'400, 3'725'400'000});
  auto c = Start("gamma.i42", {"Stopped"});
  auto d = Start("delta", {"Buffering", {}, "Title Only"});
  testing::ThreadedTestPlayer notAPlayer(bus_->Address(), "org.example.Other", {"Playing", {"X"}});
  // Untagged titles split (a file's name without its extension), the album read.
  auto file = Start("file", {.status = "Stopped",
                             .title = "Some Artist - Some Song.ogg",
                             .album = "Demos",
                             .url = "file:///music/Some%20Artist%20-%20Some%20Song.ogg"});
  auto stream = Start("stream", {.status = "Stopped",
                                 .title = "Band - Tune.ogg",
                                 .url = "http://radio.example/Band%20-%20Tune.ogg"});
  auto tagged =
      Start("tagged",
            {.status = "Stopped", .artists = {"Band"}, .title = "Tune - Live", .album = "Live!"});
  auto any = Player();
  EXPECT_EQ(Found(any->Query()), "Rós, Guest|Hoppípolla 1 65500/3725");
  const std::pair<const char*, std::string> named[] = {
      {"omega", "A| 3 0/0"},
      {"gamma", "no track 0 0/0"},
      {"gamma.i42", "no track 0 0/0"},
      {"omeg", "not found"},
      {"i42", "not found"},
      {"delta", "|Title Only -1 0/0"},
      {"file", "Some Artist|Some Song [Demos] 0 0/0"},
      {"stream", "Band|Tune.ogg 0 0/0"},
      {"tagged", "Band|Tune - Live [Live!] 0 0/0"}};
  for (const auto& [name, found] : named) EXPECT_EQ(Found(Player(name)->Query()), found) << name;
  b.reset();  // gone; with none playing, a paused player comes first
  EXPECT_EQ(Found(any->Query()), "A| 3 0/0");
}

TEST_F(MprisTest, ChoosesThePreferredPlayerAndSkipsIgnoredOnes) {
  auto vlc = Start("vlc.instance1234", {"Paused", {"Vlc"}});
  auto firefox = Start("firefox.instance_1_2", {"Playing", {"Video"}});
  auto mpv = Start("mpv", {"Paused", {"Mpv"}});
  auto spotify = Start("spotify", {"Stopped", {"Spotify"}});
  auto player = Player();
  const auto read = [&](PlayerChoice choice) {
    player->SetChoice(choice);
    const PlayerSnapshot snapshot = player->Query();
    return snapshot.found && snapshot.track ? snapshot.track->artist : player->Describe();
  };
  // The choice itself is tested without a bus; here, that each one given counts at once.
  EXPECT_EQ(read({}), "Video");
  EXPECT_EQ(read({"vlc", {}}), "Vlc");                  // preferred, as vlc.instance1234
  EXPECT_EQ(read({"vlc", {"vlc", "firefox"}}), "Mpv");  // ignored wins over preferred
  EXPECT_EQ(read({"", {"firefox", "mpv", "vlc", "spotify"}}),
            "MPRIS: only ignored players on the bus (org.mpris.MediaPlayer2.firefox.instance_1_2, "
            "org.mpris.MediaPlayer2.mpv, org.mpris.MediaPlayer2.spotify, "
            "org.mpris.MediaPlayer2.vlc.instance1234)");
  // The command line's player overrides the choice, ignore list included, for the run.
  const PlayerChoice settings{"vlc", {"spotify"}};
  EXPECT_EQ(Found(Player("spotify", 1000, settings)->Query()), "Spotify| 0 0/0");
  auto absent = Player("absent", 1000, settings);
  EXPECT_EQ(Found(absent->Query()), "not found");
  EXPECT_EQ(absent->Describe(), "MPRIS: no player \"absent\" on the bus");
}

TEST_F(MprisTest, BrokenPlayersNeitherCrashNorHoldTheQueryUp) {
  // Wrong D-Bus types everywhere, a player that is not answering, one that leaves the bus when
  // asked: none of them is read, and a good player beside them still is.
  const QVariantMap wrongMetadata{{"xesam:artist", 42},
                                  {"xesam:title", QByteArray("\xff\xfe")},
                                  {"xesam:album", QStringList{"A"}},
                                  {"xesam:url", 7},
                                  {"mpris:length", "long"}};
  auto a = Start("a1", {.reply = "not a dictionary"});
  auto b = Start("a2", {.reply = 12});
  auto c = Start("a3", {.reply = QVariantMap{{"PlaybackStatus", 1},
                                             {"Position", QStringList{"x"}},
                                             {"Metadata", "not a map"}}});
  auto d = Start(
      "a4", {.reply = QVariantMap{
                 {"PlaybackStatus", "Paused"}, {"Position", 1e300}, {"Metadata", wrongMetadata}}});
  auto e = Start("a5", {.silent = true});
  auto f = Start("a6", {.leaves = true});
  auto good = Start("zz", {"Stopped", {"Band"}, "Tune"});
  auto player = Player({}, 500);
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(Found(player->Query()), "no track 3 0/0");  // a4: paused, its tags unreadable
  EXPECT_EQ(Found(Player("a3", 500)->Query()), "no track -1 0/0");
  EXPECT_EQ(Found(Player("a1", 500)->Query()), "not found");
  EXPECT_EQ(Found(Player("a6", 500)->Query()), "not found");  // gone by now
  player->SetChoice({"", {"a3", "a4"}});
  EXPECT_EQ(Found(player->Query()), "Band|Tune 0 0/0");
  EXPECT_EQ(player->ListPlayers().players.size(), 6u);  // a6 has left
  EXPECT_LT(timer.elapsed(), 8000);
}

// Runs the event loop until `done` or 5 seconds have passed; true when done.
template <typename Done>
bool WaitFor(Done done) {
  return QTest::qWaitFor(done, 5000);
}

// Runs the event loop for `ms`, so that anything due is delivered.
void Settle(int ms = 400) {
  QTest::qWait(ms);
}

TEST_F(MprisTest, TellsOfPlayersComingAndGoing) {
  auto player = Player();
  int changes = 0;
  player->Watch({[&] { ++changes; }, nullptr});
  player->Query();  // a round trip on the connection, then a moment for the watch to be in place
  Settle(200);
  auto comer = Start("comer", {"Playing", {"Band"}});
  ASSERT_TRUE(WaitFor([&] { return changes == 1; })) << changes;
  comer.reset();
  ASSERT_TRUE(WaitFor([&] { return changes == 2; })) << changes;
  player->Watch({});  // stopped
  auto other = Start("other", {"Playing", {"Band"}});
  Settle();
  EXPECT_EQ(changes, 2);
}

TEST_F(MprisTest, TellsOfTrackAndStateChangesThatCanChangeWhatIsRead) {
  auto alpha = Start("alpha", {"Playing", {"Alpha"}});
  auto zeta = Start("zeta", {"Paused", {"Zeta"}});
  auto muted = Start("muted", {"Paused", {"Muted"}});
  auto player = Player({}, 1000, {"", {"muted"}});
  int changes = 0;
  player->Watch({nullptr, [&] { ++changes; }});
  ASSERT_EQ(Found(player->Query()), "Alpha| 1 0/0");

  // A new track of the player read: one call for a burst of signals.
  for (int i = 0; i < 3; ++i) alpha->EmitChanged({{"Metadata", QVariantMap{}}});
  ASSERT_TRUE(WaitFor([&] { return changes == 1; })) << changes;
  Settle();
  EXPECT_EQ(changes, 1);
  // Nothing that is shown, another interface, another player whose state does not change the
  // choice (both playing: alpha still comes first), an ignored player: no call.
  alpha->EmitChanged({{"Volume", 0.5}});
  alpha->EmitChanged({{"Identity", "x"}}, {}, "org.mpris.MediaPlayer2");
  zeta->EmitChanged({{"Metadata", QVariantMap{}}});
  zeta->EmitChanged({{"PlaybackStatus", "Playing"}});
  muted->EmitChanged({{"PlaybackStatus", "Playing"}});
  Settle();
  EXPECT_EQ(changes, 1);
  // The player read pauses: told; zeta, playing, is now read.
  alpha->Set({"Paused", {"Alpha"}});
  zeta->Set({"Playing", {"Zeta"}});
  alpha->EmitChanged({{"PlaybackStatus", "Paused"}});
  ASSERT_TRUE(WaitFor([&] { return changes == 2; })) << changes;
  EXPECT_EQ(Found(player->Query()), "Zeta| 1 0/0");
  // Alpha plays again: it comes first by name, so the choice changes: told.
  alpha->EmitChanged({{"PlaybackStatus", "Playing"}});
  ASSERT_TRUE(WaitFor([&] { return changes == 3; })) << changes;
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
  // The album with its own settings; without one its token goes, padded as any empty value.
  // (Keys missing from the file leave the other tokens empty, so they are not filled.)
  auto tagged = Start("tagged", {.artists = {"Sigur Rós"}, .album = "Ágætis byrjun"});
  const std::string prefs =
      "[KAVO]\r\nalbum=%L\r\nalbumF=1\r\nalbumN=15\r\nalbumW=.\r\nalbumJ=Right\r\n";
  EXPECT_EQ(NowPlaying({"--player", "tagged", "%L %l"}, bus_->Address(), prefs),
            "0 Player: MPRIS: tagged (org.mpris.MediaPlayer2.tagged)\n..ÁGÆTIS BYRJUN %l\n");
  EXPECT_EQ(NowPlaying({"--player", "other", "%a [%L]"}, bus_->Address(), prefs),
            "0 Player: MPRIS: other (org.mpris.MediaPlayer2.other)\n%a [...............]\n");
}

TEST_F(MprisTest, ListPlayersNamesEachPlayerAndMarksTheOneReadByTheSettings) {
  auto vlc = Start(
      "vlc.instance7",
      {.status = "Paused", .artists = {"Band"}, .title = "Tune", .identity = "VLC media player"});
  auto firefox = Start("firefox", {.title = "Clip", .identity = "Firefox"});
  auto spotify = Start("spotify", {.status = "Stopped"});
  auto hung = Start("hung", {.silent = true});
  // Listed within one timeout for all, not one each.
  QElapsedTimer timer;
  timer.start();
  const PlayerList list = Player({}, 300, {"", {"firefox"}})->ListPlayers();
  EXPECT_LT(timer.elapsed(), 5000);
  ASSERT_EQ(list.players.size(), 4u);
  EXPECT_EQ(PlayerListLine(list.players[1], list.chosen == 1), "  hung: no answer");
  hung.reset();
  const auto listed = [](const char* firefoxMark, const char* spotifyMark, const char* vlcMark) {
    return std::string("0 ") + firefoxMark + " firefox (Firefox): playing, Clip\n" + spotifyMark +
           " spotify: stopped\n" + vlcMark +
           " vlc.instance7 (VLC media player): paused, Band – Tune\n";
  };
  EXPECT_EQ(Run({"--list-players"}), listed("*", " ", " "));
  const std::string ignoring = "[prefs]\r\nignorePlayers=firefox\r\n";
  EXPECT_EQ(Run({"--list-players"}, bus_->Address(), ignoring), listed(" ", " ", "*"));
  const std::string preferring = "[prefs]\r\nplayer=spotify\r\n";
  EXPECT_EQ(Run({"--list-players"}, bus_->Address(), preferring), listed(" ", "*", " "));
  // The command line's player overrides the settings; "none" lists as the settings choose.
  EXPECT_EQ(Run({"--list-players", "--player", "vlc"}, bus_->Address(), preferring),
            listed(" ", " ", "*"));
  EXPECT_EQ(Run({"--list-players", "--player", "none"}, bus_->Address(), preferring),
            listed(" ", "*", " "));
}

TEST_F(MprisTest, NoPlayerOrNoBusIsSaidWithTheReason) {
  const QString noBus = QStringLiteral("unix:path=/nonexistent/bus");
  const std::tuple<QStringList, QString, std::string> cases[] = {
      {{"--list-players"},
       bus_->Address(),
       "0 quorvel: no MPRIS media player on the session bus\n"},
      {{"--list-players"}, noBus, "1 quorvel: cannot reach the D-Bus session bus ("},
      {{"--now-playing"},
       bus_->Address(),
       "1 quorvel: no media player found (MPRIS: no player on the bus)\n"},
      {{"--now-playing", "--player", "none"},
       bus_->Address(),
       "1 quorvel: no media player found (none)\n"},
      {{"--now-playing", "--player", "winamp"},
       bus_->Address(),
       "1 quorvel: the Winamp player backend exists on Windows only\n"},
      {{"--now-playing", "a", "b"}, bus_->Address(), "1 quorvel: unexpected argument \"b\"\n"},
      {{"--now-playing"},
       noBus,
       "1 quorvel: no media player found (MPRIS: cannot reach the D-Bus session bus ("}};
  for (const auto& [args, bus, said] : cases) {
    EXPECT_THAT(Run(args, bus), ::testing::StartsWith(said)) << args.join(u' ').toStdString();
  }
}

}  // namespace
}  // namespace quorvel
