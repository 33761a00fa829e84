// Composition: when tokens are filled, in which order, with which values.
#include "media/composer.h"

#include <gtest/gtest.h>

#include "fake_media.h"
#include "media/field_format.h"

namespace quorvel {
namespace {

using testing::FakePlayer;
using testing::PlainSettings;
using testing::Playing;

constexpr BytesView kTemplate = ":: %a - %s :: %p %t / %x";

class ComposerTest : public ::testing::Test {
 protected:
  FakePlayer player;
  PlainSettings settings;
  Composer composer{player, settings};
};

TEST_F(ComposerTest, InitialSettingsReplaceEachTokenByTheBareValue) {
  player.Push(Playing("Band", "Tune", kPlayPaused, 65500, 3725));
  EXPECT_EQ(composer.ComposeText(kTemplate), ":: Band - Tune :: paused 01:06 / 62:05");
  EXPECT_EQ(player.queries, 1);
}

TEST_F(ComposerTest, LeavesTheTextUnchangedWithoutMediaInformation) {
  // No player at all.
  EXPECT_EQ(composer.ComposeText(kTemplate), kTemplate);
  EXPECT_FALSE(composer.Refresh());

  // A player whose title never parsed: artist and song both still empty.
  PlayerSnapshot unreadable;
  unreadable.found = true;
  unreadable.playStatus = kPlayPlaying;
  player.Push(unreadable);
  EXPECT_EQ(composer.ComposeText(kTemplate), kTemplate);

  // A text without any token comes back unchanged even while a player runs.
  player.Push(Playing("Band", "Tune"));
  EXPECT_EQ(composer.ComposeText("just words"), "just words");
}

TEST_F(ComposerTest, KeepsTheLastArtistAndSongWhenTheTrackCannotBeRead) {
  player.Push(Playing("Band", "Tune"));
  PlayerSnapshot unreadable;
  unreadable.found = true;
  unreadable.playStatus = kPlayPaused;
  unreadable.elapsedMs = 2000;
  unreadable.totalSeconds = 10;
  player.Push(unreadable);
  player.Push(PlayerSnapshot{});  // the player closes
  player.Push(Playing("Other", "Song", kPlayStopped));

  EXPECT_EQ(composer.ComposeText(kTemplate), ":: Band - Tune :: playing 00:00 / 00:00");
  // The status and times are read afresh; artist and song stay.
  EXPECT_EQ(composer.ComposeText(kTemplate), ":: Band - Tune :: paused 00:02 / 00:10");
  EXPECT_EQ(composer.CurrentArtist(), "Band");
  // No player: the text is returned as typed, the last track is still remembered.
  EXPECT_EQ(composer.ComposeText(kTemplate), kTemplate);
  EXPECT_EQ(composer.CurrentSong(), "Tune");
  EXPECT_EQ(composer.ComposeText(kTemplate), ":: Other - Song :: stopped 00:00 / 00:00");
}

TEST_F(ComposerTest, AnArtistAloneIsMediaInformation) {
  player.Push(Playing("Band", ""));
  EXPECT_EQ(composer.ComposeText("[%a|%s]"), "[Band|]");
}

TEST_F(ComposerTest, FillsTheBlockFirstAndTheFieldsInOrder) {
  settings.block = "%a - %s\r\nnext\rlone\n";
  settings.blockToken = "@@";
  player.Push(Playing("%s and %p", "%a", kPlayPlaying));
  // The block is inserted first, so its tokens are filled. The artist's value holds the song's and
  // the status's tokens, which are filled after it; the song's value holds the artist's token,
  // which was already filled and stays.
  EXPECT_EQ(composer.ComposeText("<@@>"), "<%a and playing - %a<BR>next\rlone\n>");
  EXPECT_EQ(composer.BlockText(), "%a - %s<BR>next\rlone\n");
}

TEST_F(ComposerTest, FormatsEachFieldWithItsOwnSettings) {
  settings.Of(MediaField::kArtist).caseMode = kCaseUpper;
  settings.Of(MediaField::kSong).caseMode = kCaseFirstCap;
  settings.Of(MediaField::kStatus).caseMode = -1;
  settings.Of(MediaField::kStatus).lengthText = "9";
  settings.Of(MediaField::kStatus).justification = "Right";
  settings.Of(MediaField::kStatus).padText = ".";
  settings.Of(MediaField::kTime).caseMode = kCaseUpper;  // times have no letters; never applied
  settings.Of(MediaField::kTotalTime).lengthText = "not a number";
  settings.Of(MediaField::kTotalTime).token = "";  // an empty token changes nothing
  player.Push(Playing("sigur rós", "hoppÍPOLLA live", kPlayPaused, 1500, 40000));
  EXPECT_EQ(composer.ComposeText(kTemplate),
            ":: SIGUR RÓS - Hoppípolla Live :: ...paused 00:02 / %x");
}

TEST_F(ComposerTest, BuffersBeforeFittingAndStatusCodesOutsideTheListGiveEmptyText) {
  settings.bufferOn = true;
  settings.bufferText = "[var]";
  settings.limitOnly = true;
  settings.Of(MediaField::kArtist).lengthText = "5";
  player.Push(Playing("Band", "Tune", 2, 0, 40000));
  EXPECT_EQ(composer.ComposeText("%a %s %p %x"), "[Band [Tune] [] [666:40]");
}

TEST_F(ComposerTest, ValuesFullOfTokensCannotBlowTheTextUp) {
  // The artist pads itself with song tokens and the song with status tokens: unbounded, each
  // stage would multiply the size by thousands.
  settings.Of(MediaField::kArtist).lengthText = "32767";
  settings.Of(MediaField::kArtist).padText = "%s ";
  settings.Of(MediaField::kSong).lengthText = "32767";
  settings.Of(MediaField::kSong).padText = "%p ";
  player.Push(Playing("a", "s"));
  const Bytes text = composer.ComposeText("%a%a%a%a");
  EXPECT_LE(text.size(), kMaxComposedBytes);
  EXPECT_EQ(text.find("%a"), Bytes::npos);  // the artist was filled
  EXPECT_NE(text.find("%s"), Bytes::npos);  // the song was refused and its tokens stay
}

}  // namespace
}  // namespace quorvel
