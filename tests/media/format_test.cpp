// The formatting of each media field (title parsing and splitting, time texts, case, buffer,
// length, lines left bare) and the composition that fills the tokens of a text with them.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "fake_media.h"
#include "media/composer.h"
#include "media/field_format.h"
#include "media/text_case.h"
#include "media/time_text.h"
#include "media/title_parser.h"
#include "media/title_split.h"
#include "media/token_free_text.h"

namespace quorvel {
namespace {

using namespace std::string_literals;

// Artist and song as "artist|song", or "-" when there is no track.
std::string Shown(const std::optional<Track>& t) {
  return t ? t->artist + "|" + t->song : "-";
}

TEST(ParseTitle, ReadsArtistAndSongOrRefusesTheTitle) {
  // A character counts as one however many bytes it takes, and a cut never splits one.
  const std::pair<std::string, std::string> titles[] = {
      {"1234. A - B - Winamp [Paused]", "A|B"},
      {"2147483648. A - B - Winamp", "-"},
      {"7. Show TV: Channel Five - Winamp", "TV|Channel Five"},
      {"000000000000001. A - B - Winamp ééééééé", "A|B - Winamp éééé"}};
  for (const auto& [title, shown] : titles) EXPECT_EQ(Shown(ParseTitle(title)), shown) << title;
}

TEST(TrackFromTags, SplitsAnUntaggedTitleAtItsFirstDashWithoutTheFilesExtension) {
  const std::tuple<std::string, std::string, std::string> titles[] = {
      {"Band - Tune - Live", "", "Band|Tune - Live"},
      {"Sigur Rós - Hoppípolla.flac", "file:///m/Sigur%20R%C3%B3s%20-%20Hopp%c3%adpolla.flac",
       "Sigur Rós|Hoppípolla"},
      {"a - b.MP3", "FILE://localhost/m/a%20-%20b.MP3?x#y", "a|b"},
      {"a - b.ogg", "file:///x/a%20-%20b.ogg.part", "a|b.ogg"},
      {"a - b.ogg", "http://host/a%20-%20b.ogg", "a|b.ogg"}};
  for (const auto& [t, u, s] : titles) EXPECT_EQ(Shown(TrackFromTags({"", t, "", u})), s) << t;
  // A tagged artist keeps the title whole.
  const auto tagged = TrackFromTags({"Band", "Tune - Live", "Album", "file:///a/Tune%20-%20Live"});
  EXPECT_EQ(Shown(tagged) + "|" + tagged->album, "Band|Tune - Live|Album");
  EXPECT_EQ(FileNameOfUrl("file:name%2Fpart.ogg"), "name/part.ogg");  // decoded after the cut
}

TEST(TimeText, FormatsMinutesAndSecondsAndRoundsMillisecondsHalfToEven) {
  const std::pair<std::int64_t, std::string> times[] = {
      {0, "00:00"}, {65, "01:05"}, {3725, "62:05"}, {360000, "6000:00"}, {-1, "00:00"}};
  for (const auto& [seconds, text] : times) EXPECT_EQ(TimeText(seconds), text);
  const std::pair<std::int64_t, std::int64_t> rounded[] = {
      {499, 0}, {500, 0}, {501, 1}, {1500, 2}, {2500, 2}, {-1500, -2}, {-1501, -2}};
  for (const auto& [ms, seconds] : rounded) EXPECT_EQ(ElapsedSeconds(ms), seconds) << ms << " ms";
}

TEST(ApplyCase, ChangesEveryLetterThatHasACase) {
  // Another mode means lower case; words split at NUL, tab, LF, VT, FF, CR and space only.
  const std::tuple<std::string, int, std::string> cases[] = {
      {"tHE bIG", kCaseUpper, "THE BIG"},          {"tHE bIG", 7, "the big"},
      {"élan ÉCLAT", kCaseFirstCap, "Élan Éclat"}, {"ΣΚΑΪ", kCaseFirstCap, "Σκαϊ"},
      {"straße", kCaseUpper, "STRASSE"},           {"a-b o'c", kCaseFirstCap, "A-b O'c"}};
  for (const auto& [in, mode, out] : cases) EXPECT_EQ(ApplyCase(in, mode), out) << in << mode;
  EXPECT_EQ(ApplyCase("a\tb\nc\vd\fe\rf g\0h"s, kCaseFirstCap), "A\tB\nC\vD\fE\rF G\0H"s);
}

TEST(FitField, CutsOrPadsToTheLengthInCharacters) {
  const std::tuple<std::string, int, std::string, std::string, std::string> cases[] = {
      {"abc", 8, "Center", "_", "__abc___"},    {"abc", 7, "Center", "<>", "<<abc>>"},
      {"abc", 7, "Left", "<>", "abc><><"},      {"abc", 7, "Right", "<>", "<><>abc"},
      {"abc", 5, "Center", "-=-", "-=-abc-=-"}, {"Sigur Rós", 8, "Left", "_", "Sigur Ró"},
      {"ab", 4, "Right", "ééé", "ééééééab"}};
  for (const auto& [v, n, side, pad, out] : cases)
    EXPECT_EQ(FitField(v, n, side, pad, false), out) << v << n;
  // Every "var" of the buffer stands for the value, which is not scanned again; then the length.
  EXPECT_EQ(FitField(BufferValue("vars", true, "<var>"), 5, "Center", "_", true), "<vars");
  // Lengths are signed 16-bit numbers as typed; anything else means no length.
  const std::pair<std::string, int> lengths[] = {
      {" 5 ", 5}, {"-32768", -32768}, {"32768", 0}, {"5x", 0}, {"99999999999999999999", 0}};
  for (const auto& [text, length] : lengths) EXPECT_EQ(ParseFieldLength(text), length) << text;
}

TEST(TokenFreeText, TakesTokensOutAndTheLinesLeftBare) {
  // A line left bare goes with one break; tags are no text, and stay; letters beyond ASCII are
  // text, emoji and dashes are not; tokens that form where others went go too; "" is no token.
  const std::pair<const char*, const char*> lines[] = {
      {"Now:<BR>:: %a ::", "Now:"},
      {"A\r%a\nB<Br />%s<bR/>C\r\n%p", "A\rB<Br />C"},
      {"<HTML><B>%a</B><BR>x %s</HTML>", "<HTML><B></B>x </HTML>"},
      {"1 %a<BR>\xC3\xA9%s<BR>\xE2\x99\xAA %p", "1 <BR>\xC3\xA9"},
      {"\xF0\x9F\x8E\xB5 %a \xE2\x80\x94 %s", ""},
      {"x %%aa %%%ass", "x  "}};
  const std::vector<Bytes> tokens = {"%a", "%s", "", "%p"};
  for (const auto& [text, freed] : lines) EXPECT_EQ(TokenFreeText(text, tokens), freed) << text;
}

constexpr char kTemplate[] = ":: %a - %s :: %p %t / %x";

struct ComposerTest : ::testing::Test {
  testing::FakePlayer player;
  testing::PlainSettings settings;
  Composer composer{player, settings};
};

TEST_F(ComposerTest, FillsWhileAPlayerAnswersAndKeepsTheLastReadableTrack) {
  // No player, then one whose track cannot be read yet, then a track; unreadable again (status
  // and times are read afresh, artist, song and album stay), the player closes and comes back; an
  // artist alone, with a status code outside the list (shown as nothing). Without a track the
  // line of tokens is left bare and goes.
  const PlayerSnapshot none, unreadable{true, std::nullopt, kPlayPaused, 2000, 10},
      band{true, Track{"Band", "Tune", "Album"}, kPlayPaused, 65500, 3725},
      solo{true, Track{"Solo", ""}, 2};
  player.script = {none, unreadable, band, unreadable, none, unreadable, solo};
  std::string shown;
  for (int i = 0; i < 7; ++i)
    shown += composer.ComposeText(kTemplate) + "|" + composer.CurrentAlbum() + "|";
  EXPECT_EQ(shown,
            "||||:: Band - Tune :: paused 01:06 / 62:05|Album|:: Band - Tune :: paused 00:02 / "
            "00:10|Album||Album|:: Band - Tune :: paused 00:02 / 00:10|Album|:: Solo -  ::  00:00 "
            "/ 00:00||");
}

TEST_F(ComposerTest, FillsTheBlockFirstThenEachFieldWithItsOwnSettings) {
  settings.block = "%a - %s\r\nnext\rlone\n";
  settings.blockToken = "@@";
  player.script = {{true, Track{"%s and %p", "%a"}, kPlayPlaying}};
  // The block's tokens are filled as it is inserted first. The artist's value holds the song's and
  // the status's tokens, filled after it; the song's holds the artist's, already filled, so kept.
  EXPECT_EQ(composer.ComposeText("<@@>"), "<%a and playing - %a<BR>next\rlone\n>");
  settings.Of(MediaField::kArtist).caseMode = kCaseUpper;
  settings.Of(MediaField::kSong).caseMode = kCaseFirstCap;
  settings.Of(MediaField::kStatus) = {"%p", kCaseUpper, "9", ".", "Right"};
  settings.Of(MediaField::kTotalTime).token = "";  // an empty token changes nothing
  player.script = {
      {true, Track{"sigur rós", "hoppÍPOLLA live", "ágætis"}, kPlayStopped, 1500, 40000}};
  EXPECT_EQ(composer.ComposeText(kTemplate + " %l"s),
            ":: SIGUR RÓS - Hoppípolla Live :: ..STOPPED 00:02 / %x ágætis");
  // The buffer wraps each value before the length cuts it.
  settings.bufferOn = settings.limitOnly = true;
  settings.bufferText = "[var]";
  settings.Of(MediaField::kArtist).lengthText = "5";
  EXPECT_EQ(composer.ComposeText("%a %s"), "[SIGU [Hoppípolla Live]");
}

TEST_F(ComposerTest, ValuesFullOfTokensCannotBlowTheTextUp) {
  // The artist pads itself with song tokens and the song with status tokens: unbounded, each
  // stage would multiply the size by thousands.
  settings.Of(MediaField::kArtist) = {"%a", 0, "32767", "%s ", "Center"};
  settings.Of(MediaField::kSong) = {"%s", 0, "32767", "%p ", "Center"};
  player.script = {{true, Track{"a", "s"}, kPlayPlaying}};
  const Bytes text = composer.ComposeText("%a%a%a%a");
  EXPECT_LE(text.size(), kMaxComposedBytes);
  EXPECT_NE(text.find("%s"), Bytes::npos);  // the song was refused and its tokens stay
}

}  // namespace
}  // namespace quorvel
