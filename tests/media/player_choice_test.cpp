// Choosing among the players present, by preference, ignore list and play state, and the line
// that shows each player to the user.
#include "media/player_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/player_listing.h"

namespace quorvel {
namespace {

PlayerInfo Present(const std::string& name, int status, bool answered = true) {
  PlayerInfo player;
  player.busName = std::string(kMprisPrefix) + name;
  player.state.found = answered;
  player.state.playStatus = status;
  return player;
}

TEST(PlayerNames, MatchANameAndItsInstancesOnly) {
  const std::string vlc = "org.mpris.MediaPlayer2.vlc";
  const std::tuple<std::string, std::string, bool> cases[] = {
      {vlc, "vlc", true},
      {vlc + ".instance1234", "vlc", true},
      {"org.mpris.MediaPlayer2.firefox.instance_1_84", "firefox", true},
      {vlc + ".instance1234", "vlc.instance1234", true},
      {vlc + ".instance1234", "vlc.instance12", false},
      {vlc + "x", "vlc", false},
      {vlc, "vl", false},
      {vlc, "vlc.instance1", false},
      {vlc, "VLC", true},
      {vlc, "org.mpris.MediaPlayer2.vlc", true},
      {vlc, "", false},
      {vlc, "org.mpris.MediaPlayer2.", false},
      {"org.mpris.MediaPlayer2.instance5", "vlc", false}};
  for (const auto& [busName, name, matches] : cases) {
    EXPECT_EQ(PlayerNameMatches(busName, name), matches) << busName << " / " << name;
  }
  // The name that outlasts an instance, as the Preferences page lists it.
  const std::pair<std::string, std::string> stable[] = {
      {vlc + ".instance1234", "vlc"},
      {"org.mpris.MediaPlayer2.firefox.instance_1_84", "firefox"},
      {"org.mpris.MediaPlayer2.io.github.Player", "io.github.Player"},
      {"org.mpris.MediaPlayer2.instance5", "instance5"},
      {"spotify", "spotify"}};
  for (const auto& [busName, name] : stable) EXPECT_EQ(PlayerNameWithoutInstance(busName), name);
  EXPECT_EQ(ParsePlayerNames(" firefox, chromium ,,\tkdeconnect ,"),
            (std::vector<std::string>{"firefox", "chromium", "kdeconnect"}));
  EXPECT_TRUE(ParsePlayerNames(" , ").empty());
}

TEST(ChoosePlayer, PrefersTheNamedThenPlayingThenPausedAndTheFirstByName) {
  // Deliberately out of order: the order of the bus listing must not decide.
  const std::vector<PlayerInfo> players = {
      Present("vlc.instance1234", kPlayPaused), Present("amarok", kPlayPaused),
      Present("spotify", kPlayStopped),         Present("firefox.instance_1_2", kPlayPlaying),
      Present("chromium", kPlayPlaying, false), Present("mpv", kPlayPaused)};
  const auto chosen = [&](const std::string& preferred, const std::vector<std::string>& ignored) {
    const auto index = ChoosePlayer(players, preferred, ignored);
    return index ? std::string(ShortPlayerName(players[*index].busName)) : "none";
  };
  EXPECT_EQ(chosen("", {}), "firefox.instance_1_2");  // the one playing that answered
  EXPECT_EQ(chosen("", {"firefox"}), "amarok");       // three paused: the first by name
  EXPECT_EQ(chosen("", {"firefox", "amarok"}), "mpv");
  EXPECT_EQ(chosen("", {"firefox", "amarok", "mpv", "vlc"}), "spotify");  // stopped, but there
  EXPECT_EQ(chosen("vlc", {}), "vlc.instance1234");  // preferred, though only paused
  EXPECT_EQ(chosen("spotify", {}), "spotify");
  EXPECT_EQ(chosen("vlc", {"vlc"}), "firefox.instance_1_2");  // an ignored name is never read
  EXPECT_EQ(chosen("chromium", {}), "firefox.instance_1_2");  // present, but it did not answer
  EXPECT_EQ(chosen("absent", {}), "firefox.instance_1_2");
  EXPECT_EQ(chosen("", {"firefox", "amarok", "mpv", "vlc", "spotify"}), "none");
  EXPECT_FALSE(ChoosePlayer({}, "", {}));
  // Two instances of the preferred player: the better state, then the first name.
  const std::vector<PlayerInfo> instances = {Present("vlc.instance9", kPlayPaused),
                                             Present("vlc.instance10", kPlayStopped),
                                             Present("vlc.instance2", kPlayPaused)};
  EXPECT_EQ(ChoosePlayer(instances, "vlc", {}), 2u);
}

TEST(PlayerListLine, ShowsNameIdentityStateAndTrackOnOneHarmlessLine) {
  PlayerInfo vlc = Present("vlc.instance7", kPlayPlaying);
  vlc.identity = "VLC media player";
  vlc.state.track = Track{"Sigur Rós", "Hoppípolla", "Takk"};
  EXPECT_EQ(PlayerListLine(vlc, true),
            "* vlc.instance7 (VLC media player): playing, Sigur Rós – "
            "Hoppípolla");
  vlc.state.track = Track{"", "Band - Tune"};
  EXPECT_EQ(PlayerListLine(vlc, false), "  vlc.instance7 (VLC media player): playing, Band - Tune");
  EXPECT_EQ(PlayerListLine(Present("spotify", kPlayStopped), false), "  spotify: stopped");
  EXPECT_EQ(PlayerListLine(Present("odd", 7), false), "  odd: unknown state");
  EXPECT_EQ(PlayerListLine(Present("hung", kPlayPlaying, false), false), "  hung: no answer");
  // Line breaks and terminal escapes from a player show as spaces; other text stays.
  PlayerInfo rogue = Present("rogue", kPlayPaused);
  rogue.identity = "Evil\x1b]0;title\x07";
  rogue.state.track = Track{"A\r\nB",
                            "C\xc2\x9b"
                            "2J\x7f\xc2\xa0é"};
  EXPECT_EQ(PlayerListLine(rogue, false),
            "  rogue (Evil ]0;title ): paused, A  B – C 2J \xc2\xa0é");
}

}  // namespace
}  // namespace quorvel
