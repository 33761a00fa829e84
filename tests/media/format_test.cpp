// Title parsing, time and status texts, case, buffer and field fitting.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "media/field_format.h"
#include "media/format_settings.h"
#include "media/text_case.h"
#include "media/time_text.h"
#include "media/title_parser.h"
#include "media/utf8_text.h"
#include "test_bytes.h"

namespace quorvel {
namespace {

using testing::ToHex;

struct TitleCase {
  std::string title;
  std::optional<std::pair<std::string, std::string>> expected;  // artist, song
};

TEST(ParseTitle, ReadsArtistAndSongOrRefusesTheTitle) {
  using P = std::pair<std::string, std::string>;
  const std::vector<TitleCase> cases = {
      {"1. Band - Tune - Winamp", P{"Band", "Tune"}},
      {"12. Band - Tune - Winamp", P{"Band", "Tune"}},
      {"123. Band - Tune - Winamp", P{"Band", "Tune"}},
      {"1234. Band - Tune - Winamp", P{"Band", "Tune"}},
      {"1. Band - Tune - Live - Winamp", P{"Band", "Tune - Live"}},
      {"5. Rock-It - Tune - Winamp", P{"Rock-It", "Tune"}},
      {"7. TV: Channel Five - Winamp", P{"TV", "Channel Five"}},
      {"7. Show TV: Channel Five - Winamp", P{"TV", "Channel Five"}},
      {"1. Band - Tune - Winamp [Paused]", P{"Band", "Tune"}},
      {"1. Band - Tune - - Winamp", P{"Band", "Tune"}},  // a song ending in " -" loses it
      {"-3. Band - Tune - Winamp", P{"Band", "Tune"}},
      {"2147483647. Band - Tune - Winamp", P{"Band", "Tune - Winamp"}},  // runs on
      {"3. Tune Only - Winamp", std::nullopt},
      {"x. Band - Tune - Winamp", std::nullopt},
      {". Band - Tune - Winamp", std::nullopt},
      {"2147483648. Band - Tune - Winamp", std::nullopt},
      {"1 Band - Tune - Winamp", std::nullopt},
      {"Winamp 5.0", std::nullopt},
      {"1. - Winamp", std::nullopt},
      {"1. Band - Tune", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    const auto track = ParseTitle(c.title);
    ASSERT_EQ(track.has_value(), c.expected.has_value());
    if (track) {
      EXPECT_EQ(track->artist, c.expected->first);
      EXPECT_EQ(track->song, c.expected->second);
    }
  }
}

TEST(ParseTitle, CountsCharactersOfUtf8TitlesAndNeverSplitsThem) {
  // Multi-byte characters in artist and song do not move the cut: it is measured in characters.
  const auto track = ParseTitle("12. Sigur Rós - Hoppípolla - Winamp");
  ASSERT_TRUE(track);
  EXPECT_EQ(track->artist, "Sigur Rós");
  EXPECT_EQ(track->song, "Hoppípolla");

  // The character after the dot is skipped whole, even when it is not a space.
  const auto odd = ParseTitle("1.éBand - Tune - Winamp");
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->artist, "Band");

  // A cut that ends inside a long tail of multi-byte text stops on a character boundary.
  const auto runOn = ParseTitle("000000000000001. A - B - Winamp ééééééé");
  ASSERT_TRUE(runOn);
  EXPECT_EQ(runOn->song, "B - Winamp éééé");

  // Arbitrary bytes, including NUL and malformed UTF-8, are carried through, not rejected.
  const std::string raw = std::string("1. B\xff\0nd - T\xc3", 13) + " - Winamp";
  const auto bytes = ParseTitle(raw);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(ToHex(bytes->artist), ToHex(std::string("B\xff\0nd", 5)));
  EXPECT_EQ(ToHex(bytes->song), ToHex("T\xc3"));
}

TEST(TimeText, FormatsSecondsAsUnitGroups) {
  struct Case {
    std::int64_t seconds;
    int units;
    std::string text;
  };
  const std::vector<Case> cases = {
      {0, 2, "00:00"},        {65, 2, "01:05"},      {600, 2, "10:00"},    {3599, 2, "59:59"},
      {3600, 2, "60:00"},     {3725, 2, "62:05"},    {32767, 2, "546:07"}, {32768, 2, "546:08"},
      {360000, 2, "6000:00"}, {3725, 3, "01:02:05"}, {59, 1, "59"},        {7, 1, "07"},
      {-1, 2, "00:00"},       {125, 0, "125"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TimeText(c.seconds, c.units), c.text) << c.seconds << " s, " << c.units << " units";
  }
  // The largest value neither overflows nor loses digits.
  EXPECT_EQ(TimeText(INT64_MAX), std::to_string(INT64_MAX / 60) + ":07");
}

TEST(ElapsedSeconds, RoundsHalvesToEven) {
  const std::vector<std::pair<std::int64_t, std::int64_t>> cases = {
      {0, 0},      {499, 0},    {500, 0},          {501, 1},          {1499, 1},
      {1500, 2},   {2500, 2},   {2501, 3},         {3500, 4},         {-500, 0},
      {-1500, -2}, {-1501, -2}, {32767499, 32767}, {32767500, 32768},
  };
  for (const auto& [ms, seconds] : cases) {
    EXPECT_EQ(ElapsedSeconds(ms), seconds) << ms << " ms";
  }
  EXPECT_EQ(TimeText(ElapsedSeconds(1500)), "00:02");
  EXPECT_EQ(TimeText(ElapsedSeconds(2500)), "00:02");
}

TEST(PlayStatusText, NamesTheThreeKnownCodesOnly) {
  EXPECT_EQ(PlayStatusText(1), "playing");
  EXPECT_EQ(PlayStatusText(3), "paused");
  EXPECT_EQ(PlayStatusText(0), "stopped");
  for (int code : {-1, 2, 4, 65537}) {
    EXPECT_EQ(PlayStatusText(code), "") << code;
  }
}

TEST(ApplyCase, ChangesEveryLetterThatHasACase) {
  struct Case {
    std::string value;
    int mode;
    std::string result;
  };
  const std::vector<Case> cases = {
      {"tHE bIG bAND", kCaseNone, "tHE bIG bAND"},
      {"tHE bIG bAND", kCaseUpper, "THE BIG BAND"},
      {"tHE bIG bAND", kCaseFirstCap, "The Big Band"},
      {"tHE bIG bAND", kCaseLower, "the big band"},
      {"tHE bIG bAND", -1, "the big band"},
      {"tHE bIG bAND", 7, "the big band"},
      {"sigur rós", kCaseUpper, "SIGUR RÓS"},
      {"SIGUR RÓS", kCaseLower, "sigur rós"},
      {"élan ÉCLAIR", kCaseFirstCap, "Élan Éclair"},
      {"ΣΚΑΪ", kCaseLower, "σκαϊ"},
      {"straße", kCaseUpper, "STRASSE"},
      // Words split at NUL, tab, LF, VT, FF, CR and space only.
      {std::string("a\tb\nc\vd\fe\rf g\0h", 15), kCaseFirstCap,
       std::string("A\tB\nC\vD\fE\rF G\0H", 15)},
      {"rock-it o'neil (live)", kCaseFirstCap, "Rock-it O'neil (live)"},
      {"3 doors DOWN", kCaseFirstCap, "3 Doors Down"},
      {"", kCaseUpper, ""},
      {"playing", kCaseUpper, "PLAYING"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ApplyCase(c.value, c.mode), c.result) << c.value << " mode " << c.mode;
  }
}

TEST(ApplyCase, KeepsMalformedBytesAsTheyAre) {
  const std::string value =
      "ab\xff"
      "cd\xc3";
  EXPECT_EQ(ToHex(ApplyCase(value, kCaseUpper)), ToHex("AB\xff"
                                                       "CD\xc3"));
  EXPECT_EQ(ToHex(ApplyCase("\xe9t\xe9 x", kCaseFirstCap)), ToHex("\xe9t\xe9 X"));
}

TEST(ParseFieldLength, AcceptsSigned16BitNumbersAndGivesZeroOtherwise) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"0", 0},
      {"8", 8},
      {"00012", 12},
      {" 5 ", 5},
      {"+7", 7},
      {"-3", -3},
      {"32767", 32767},
      {"-32768", -32768},
      {"32768", 0},
      {"-32769", 0},
      {"99999999999999999999", 0},
      {"", 0},
      {"abc", 0},
      {"5x", 0},
      {"-", 0},
      {"1 2", 0},
  };
  for (const auto& [text, length] : cases) {
    EXPECT_EQ(ParseFieldLength(text), length) << '"' << text << '"';
  }
}

TEST(BufferValue, WrapsEveryVarWhenOn) {
  EXPECT_EQ(BufferValue("Band", true, "[var]"), "[Band]");
  EXPECT_EQ(BufferValue("Band", true, "var/var"), "Band/Band");
  EXPECT_EQ(BufferValue("Band", true, "Text1"), "Text1");
  EXPECT_EQ(BufferValue("Band", true, "VAR"), "VAR");
  EXPECT_EQ(BufferValue("", true, "[var]"), "[]");
  EXPECT_EQ(BufferValue("Band", false, "[var]"), "Band");
  // The value is inserted once per "var" and not scanned again.
  EXPECT_EQ(BufferValue("variable", true, "<var>"), "<variable>");
}

struct FitCase {
  std::string value;
  int length;
  std::string justification;
  std::string pad;
  bool limitOnly;
  std::string result;
};

TEST(FitField, CutsOrPadsToTheLength) {
  const std::vector<FitCase> cases = {
      {"abc", 8, "Center", "_", false, "__abc___"},
      {"abc", 8, "Left", "_", false, "abc_____"},
      {"abc", 8, "Right", "_", false, "_____abc"},
      {"abc", 8, "right", "_", false, "abc_____"},  // compared case-sensitively
      {"abc", 6, "None", ".", false, "abc..."},
      {"abcdef", 3, "Right", "_", false, "abc"},
      {"abcdef", 3, "Center", "xy", false, "abc"},
      {"abc", 3, "Center", "_", false, "abc"},
      {"abc", 0, "Center", "_", false, "abc"},
      {"abc", -5, "Right", "_", false, "abc"},
      {"abc", 7, "Center", "<>", false, "<<abc>>"},
      {"abc", 7, "Left", "<>", false, "abc><><"},
      {"abc", 7, "Right", "<>", false, "<><>abc"},
      {"abc", 5, "Center", "-=-", false, "-=-abc-=-"},
      {"abc", 5, "Right", "-=-", false, "-=--=-abc"},
      {"abc", 6, "Center", "", false, "abc"},  // an empty pad text pads nothing
      {"", 3, "Center", "_", false, "___"},
      {"ab", 5, "Center", "_", true, "ab"},
      {"abcdef", 3, "Center", "_", true, "abc"},
      {"abc", 0, "Center", "_", true, "abc"},
      // Characters, not bytes: é is one character, and a cut never splits it.
      {"Rós", 3, "Center", "_", false, "Rós"},
      {"Rós", 5, "Left", "_", false, "Rós__"},
      {"Sigur Rós", 8, "Left", "_", false, "Sigur Ró"},
      {"ab", 4, "Left", "«»", false, "ab»«"},
      {"ab", 4, "Right", "ééé", false, "ééééééab"},
      {"日本語テキスト", 3, "Left", "_", true, "日本語"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FitField(c.value, c.length, c.justification, c.pad, c.limitOnly), c.result)
        << c.value << " " << c.length << " " << c.justification << " '" << c.pad << "' "
        << c.limitOnly;
  }
}

TEST(FitField, BufferComesBeforeTheLength) {
  EXPECT_EQ(FitField(BufferValue("Band", true, "[var]"), 5, "Center", "_", true), "[Band");
}

TEST(FitField, AbsurdSettingsStayBounded) {
  const std::string longPad(100001, 'x');  // odd: used whole for every piece
  const Bytes padded = FitField("a", 32767, "Center", longPad, false);
  EXPECT_LE(padded.size(), kMaxComposedBytes);
  EXPECT_GE(padded.size(), kMaxComposedBytes - longPad.size());
  EXPECT_NE(padded.find('a'), Bytes::npos);
  // The largest length with a one-character pad is made in full.
  EXPECT_EQ(FitField("a", 32767, "Right", "_", false).size(), 32767u);
}

TEST(ReplaceWithin, RefusesAReplacementThatWouldGrowPastTheBound) {
  EXPECT_EQ(ReplaceWithin("%a %a", "%a", "xyz", 9), "xyz xyz");
  EXPECT_EQ(ReplaceWithin("%a %a", "%a", "xyzw", 9), "xyzw xyzw");
  EXPECT_EQ(ReplaceWithin("%a %a", "%a", "xyzwv", 9), "%a %a");
  EXPECT_EQ(ReplaceWithin("%a %a", "%a", "", 1), " ");  // shrinking is always allowed
  EXPECT_EQ(ReplaceWithin("%a", "", "xyz", 100), "%a");
  const std::string many(400000, '%');
  EXPECT_EQ(ReplaceWithin(many, "%", "abcdef").size(), many.size());  // left as it was
}

TEST(Utf8Text, CountsMalformedBytesOneByOne) {
  struct Case {
    std::string text;
    std::size_t chars;
  };
  const std::vector<Case> cases = {
      {"", 0},
      {"abc", 3},
      {"ó", 1},
      {"日本", 2},
      {"\xf0\x9f\x8e\xb5", 1},  // U+1F3B5
      {"\xc3", 1},              // truncated
      {"\xc0\xaf", 2},          // overlong
      {"\xed\xa0\x80", 3},      // surrogate
      {"\xf4\x90\x80\x80", 4},  // beyond U+10FFFF
      {"\xe6\x97", 2},          // truncated three-byte character
      {"\x80\xbf", 2},          // stray continuation bytes
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CharCount(c.text), c.chars) << ToHex(c.text);
  }
  EXPECT_EQ(FirstChars("a日b", 2), "a日");
  EXPECT_EQ(SkipChars("a日b", 2), "b");
  EXPECT_EQ(SkipChars("a", 5), "");
}

}  // namespace
}  // namespace quorvel
