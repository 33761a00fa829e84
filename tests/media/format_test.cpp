// The formatting of each media field (title parsing, time texts, case, buffer, length) and the
// composition that fills the tokens of a text with them.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "fake_media.h"
#include "media/composer.h"
#include "media/field_format.h"
#include "media/text_case.h"
#include "media/time_text.h"
#include "media/title_parser.h"
#include "media/utf8_text.h"

namespace quorvel {
namespace {

using namespace std::string_literals;

// Artist and song as "artist|song", or "-" when the title is refused.
std::string Parsed(BytesView title) {
  const auto track = ParseTitle(title);
  return track ? track->artist + "|" + track->song : "-";
}

TEST(ParseTitle, ReadsArtistAndSongOrRefusesTheTitle) {
  // Numbers of 1 to 4 digits, a status after the title, a song ending in " -" (which it loses),
  // any character after the dot.
  for (const char* title :
       {"1. A - B - Winamp", "12. A - B - Winamp", "123. A - B - Winamp", "1234. A - B - Winamp",
        "1. A - B - Winamp [Paused]", "1. A - B - - Winamp", "1.éA - B - Winamp"}) {
    EXPECT_EQ(Parsed(title), "A|B") << title;
  }
  for (const char* title : {"3. B - Winamp", "x. A - B - Winamp", "2147483648. A - B - Winamp",
                            "1 A - B - Winamp", "Winamp 5.0", "1. - Winamp", "1. A - B", ""}) {
    EXPECT_EQ(Parsed(title), "-") << title;
  }
  EXPECT_EQ(Parsed("1. Band - Tune - Live - Winamp"), "Band|Tune - Live");
  EXPECT_EQ(Parsed("5. Rock-It - Tune - Winamp"), "Rock-It|Tune");
  EXPECT_EQ(Parsed("7. Show TV: Channel Five - Winamp"), "TV|Channel Five");
  EXPECT_EQ(Parsed("2147483647. Band - Tune - Winamp"), "Band|Tune - Winamp");  // runs on
  // A character counts as one however many bytes it takes, and a cut never splits one.
  EXPECT_EQ(Parsed("12. Sigur Rós - Hoppípolla - Winamp"), "Sigur Rós|Hoppípolla");
  EXPECT_EQ(Parsed("000000000000001. A - B - Winamp ééééééé"), "A|B - Winamp éééé");
  EXPECT_EQ(Parsed("1. B\xff\0nd - T\xc3 - Winamp"s), "B\xff\0nd|T\xc3"s);  // bytes carried through
}

TEST(TimeText, FormatsMinutesAndSecondsAndRoundsMillisecondsHalfToEven) {
  const std::pair<std::int64_t, std::string> times[] = {
      {0, "00:00"},      {65, "01:05"},       {3599, "59:59"}, {3725, "62:05"},
      {32768, "546:08"}, {360000, "6000:00"}, {-1, "00:00"}};
  for (const auto& [seconds, text] : times) EXPECT_EQ(TimeText(seconds), text);
  EXPECT_EQ(TimeText(INT64_MAX), std::to_string(INT64_MAX / 60) + ":07");
  const std::pair<std::int64_t, std::int64_t> rounded[] = {
      {499, 0},  {500, 0},  {501, 1},    {1500, 2},   {2500, 2},        {2501, 3},
      {3500, 4}, {-500, 0}, {-1500, -2}, {-1501, -2}, {32767500, 32768}};
  for (const auto& [ms, seconds] : rounded) EXPECT_EQ(ElapsedSeconds(ms), seconds) << ms << " ms";
}

TEST(ApplyCase, ChangesEveryLetterThatHasACase) {
  const std::tuple<std::string, int, std::string> cases[] = {
      {"tHE bIG", kCaseUpper, "THE BIG"},          {"tHE bIG", kCaseFirstCap, "The Big"},
      {"tHE bIG", kCaseLower, "the big"},          {"sigur rós", kCaseUpper, "SIGUR RÓS"},
      {"élan ÉCLAT", kCaseFirstCap, "Élan Éclat"}, {"ΣΚΑΪ", kCaseFirstCap, "Σκαϊ"},
      {"straße", kCaseUpper, "STRASSE"},           {"a-b o'c", kCaseFirstCap, "A-b O'c"}};
  for (const auto& [in, mode, out] : cases) EXPECT_EQ(ApplyCase(in, mode), out) << in << mode;
  for (int other : {-1, 7}) EXPECT_EQ(ApplyCase("tHE bIG", other), "the big") << other;
  EXPECT_EQ(ApplyCase("\xe9t\xe9 \xc3x", kCaseUpper), "\xe9T\xe9 \xc3X");  // malformed bytes stay
  // Words split at NUL, tab, LF, VT, FF, CR and space only.
  EXPECT_EQ(ApplyCase("a\tb\nc\vd\fe\rf g\0h"s, kCaseFirstCap), "A\tB\nC\vD\fE\rF G\0H"s);
}

TEST(FitField, CutsOrPadsToTheLengthInCharacters) {
  const std::tuple<std::string, int, std::string, std::string, std::string> cases[] = {
      {"abc", 8, "Center", "_", "__abc___"},   {"abc", 8, "Left", "_", "abc_____"},
      {"abc", 8, "Right", "_", "_____abc"},    {"abc", 8, "right", "_", "abc_____"},
      {"abcdef", 3, "Center", "xy", "abc"},    {"abcd", -5, "Right", "_", "abcd"},
      {"abc", 7, "Center", "<>", "<<abc>>"},   {"abc", 7, "Left", "<>", "abc><><"},
      {"abc", 7, "Right", "<>", "<><>abc"},    {"abc", 5, "Center", "-=-", "-=-abc-=-"},
      {"abc", 5, "Right", "-=-", "-=--=-abc"}, {"abcd", 6, "Center", "", "abcd"},
      {"Rós", 5, "Left", "_", "Rós__"},        {"Sigur Rós", 8, "Left", "_", "Sigur Ró"},
      {"ab", 4, "Left", "«»", "ab»«"},         {"ab", 4, "Right", "ééé", "ééééééab"}};
  for (const auto& [value, length, justification, pad, result] : cases) {
    EXPECT_EQ(FitField(value, length, justification, pad, false), result) << value << length;
  }
  // Every "var" of the buffer stands for the value, which is not scanned again; then the length.
  EXPECT_EQ(BufferValue("Band", true, "var/var"), "Band/Band");
  EXPECT_EQ(FitField(BufferValue("vars", true, "<var>"), 5, "Center", "_", true), "<vars");
  // Limit only: cut, never padded.
  EXPECT_EQ(FitField("ab", 5, "Center", "_", true), "ab");
  EXPECT_EQ(FitField("日本語テキスト", 3, "Left", "_", true), "日本語");
  // Malformed bytes count one by one; a truncated character is not completed from what follows.
  EXPECT_EQ(FitField("\xc0\xaf\x80\xe6\x97z", 5, "Left", "_", false), "\xc0\xaf\x80\xe6\x97");
  // Lengths are signed 16-bit numbers as typed; anything else means no length.
  const std::pair<std::string, int> lengths[] = {{" 5 ", 5},   {"+7", 7}, {"-32768", -32768},
                                                 {"32768", 0}, {"5x", 0}, {"1 2", 0}};
  for (const auto& [text, length] : lengths) EXPECT_EQ(ParseFieldLength(text), length) << text;
  EXPECT_EQ(ParseFieldLength("99999999999999999999"), 0);
  // Absurd settings stay bounded.
  const std::string longPad(100001, 'x');  // odd: used whole for every piece
  const Bytes padded = FitField("a", 32767, "Center", longPad, false);
  EXPECT_LE(padded.size(), kMaxComposedBytes);
  EXPECT_GE(padded.size(), kMaxComposedBytes - longPad.size());
  EXPECT_NE(padded.find('a'), Bytes::npos);
  EXPECT_EQ(FitField("a", 32767, "Right", "_", false).size(), 32767u);  // made in full
  EXPECT_EQ(ReplaceWithin("%a %a", "%a", "xyzw", 9), "xyzw xyzw");
  EXPECT_EQ(ReplaceWithin("%a %a", "%a", "xyzwv", 9), "%a %a");  // would grow past: refused
}

constexpr char kTemplate[] = ":: %a - %s :: %p %t / %x";

class ComposerTest : public ::testing::Test {
 protected:
  testing::FakePlayer player;
  testing::PlainSettings settings;
  Composer composer{player, settings};
};

TEST_F(ComposerTest, FillsWhileAPlayerAnswersAndKeepsTheLastReadableTrack) {
  // No player, then one whose track cannot be read yet, then a track; unreadable again (status
  // and times are read afresh, artist and song stay), the player closes and comes back; an artist
  // alone, with a status code outside the list (shown as nothing). Without a track the line of
  // tokens is left bare and goes.
  const PlayerSnapshot none, unreadable{true, std::nullopt, kPlayPaused, 2000, 10},
      band{true, Track{"Band", "Tune"}, kPlayPaused, 65500, 3725}, solo{true, Track{"Solo", ""}, 2};
  player.script = {none, unreadable, band, unreadable, none, unreadable, solo};
  for (const char* expected :
       {"", "", ":: Band - Tune :: paused 01:06 / 62:05", ":: Band - Tune :: paused 00:02 / 00:10",
        "", ":: Band - Tune :: paused 00:02 / 00:10", ":: Solo -  ::  00:00 / 00:00"}) {
    EXPECT_EQ(composer.ComposeText(kTemplate), expected);
  }
  // The album goes with the track: kept while it cannot be read, replaced by the next one.
  const PlayerSnapshot album{true, Track{"Band", "Tune", "Album"}, kPlayPlaying};
  const std::pair<PlayerSnapshot, const char*> steps[] = {
      {album, "Album"}, {unreadable, "Album"}, {solo, ""}};
  for (const auto& [snapshot, kept] : steps) {
    player.script = {snapshot};
    composer.ComposeText(kTemplate);
    EXPECT_EQ(composer.CurrentAlbum(), kept);
  }
}

TEST_F(ComposerTest, FillsTheBlockFirstThenEachFieldWithItsOwnSettings) {
  settings.block = "%a - %s\r\nnext\rlone\n";
  settings.blockToken = "@@";
  player.script = {{true, Track{"%s and %p", "%a"}, kPlayPlaying}};
  // The block's tokens are filled as it is inserted first. The artist's value holds the song's and
  // the status's tokens, filled after it; the song's holds the artist's, already filled, so kept.
  EXPECT_EQ(composer.ComposeText("<@@>"), "<%a and playing - %a<BR>next\rlone\n>");
  // Each field with its own settings.
  settings.Of(MediaField::kArtist).caseMode = kCaseUpper;
  settings.Of(MediaField::kSong).caseMode = kCaseFirstCap;
  settings.Of(MediaField::kStatus) = {"%p", kCaseUpper, "9", ".", "Right"};
  settings.Of(MediaField::kTotalTime).token = "";  // an empty token changes nothing
  player.script = {{true, Track{"sigur rós", "hoppÍPOLLA live"}, kPlayStopped, 1500, 40000}};
  EXPECT_EQ(composer.ComposeText(kTemplate),
            ":: SIGUR RÓS - Hoppípolla Live :: ..STOPPED 00:02 / %x");
  // The buffer wraps each value before the length cuts it.
  settings.bufferOn = settings.limitOnly = true;
  settings.bufferText = "[var]";
  settings.Of(MediaField::kArtist).lengthText = "5";
  EXPECT_EQ(composer.ComposeText("%a %s"), "[SIGU [Hoppípolla Live]");
}

TEST_F(ComposerTest, WithoutATrackTheBlockStaysAndEveryTokenGoes) {
  settings.block = ":: %a - %s ::\r\nfrom the block %p";
  settings.blockToken = "@@";
  settings.Of(MediaField::kTime).token = "";  // an empty token is no token
  settings.Of(MediaField::kTotalTime).token = "long token";
  player.script = {PlayerSnapshot{}};
  EXPECT_EQ(composer.ComposeText("Hi %x<BR>@@<br>%t%t <i>%a</i> %l."),
            "Hi %x<BR>from the block <br>%t%t <i></i> .");
  settings.Of(MediaField::kTotalTime).token = "%x";
  EXPECT_EQ(composer.ComposeText("a%%xx b"), "a b");
}

TEST_F(ComposerTest, FillsTheAlbumLastWithItsOwnRow) {
  // Filled after the artist, whose value holds the album's token; its own holds the artist's,
  // which stays as it is.
  settings.Of(MediaField::kAlbum) = {"%l", kCaseUpper, "11", "*", "Right"};
  player.script = {{true, Track{"%l", "Tune", "ágætis %a"}, kPlayPlaying}};
  EXPECT_EQ(composer.ComposeText("%a / %l"), "**ÁGÆTIS %A / **ÁGÆTIS %A");
  // A player that names no album: the token goes, padded as any value.
  player.script = {{true, Track{"Band", "Tune"}, kPlayPlaying}};
  EXPECT_EQ(composer.ComposeText("%a [%l]"), "Band [***********]");
  settings.Of(MediaField::kAlbum).lengthText = "0";
  EXPECT_EQ(composer.ComposeText("%a [%l]"), "Band []");
}

TEST_F(ComposerTest, ValuesFullOfTokensCannotBlowTheTextUp) {
  // The artist pads itself with song tokens and the song with status tokens: unbounded, each
  // stage would multiply the size by thousands.
  settings.Of(MediaField::kArtist) = {"%a", 0, "32767", "%s ", "Center"};
  settings.Of(MediaField::kSong) = {"%s", 0, "32767", "%p ", "Center"};
  player.script = {{true, Track{"a", "s"}, kPlayPlaying}};
  const Bytes text = composer.ComposeText("%a%a%a%a");
  EXPECT_LE(text.size(), kMaxComposedBytes);
  EXPECT_EQ(text.find("%a"), Bytes::npos);  // the artist was filled
  EXPECT_NE(text.find("%s"), Bytes::npos);  // the song was refused and its tokens stay
}

}  // namespace
}  // namespace quorvel
