// The text of prefs.ini: lines set one key at a time, values read and stored in the file's own
// encoding, and each setting's value loaded from its line or refused with a warning.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "settings/ini_document.h"
#include "settings/settings_table.h"
#include "settings/stored_text.h"

namespace quorvel {
namespace {

// Setting one key in a file: what the file holds before, the key and its value, and what the file
// holds after; every stored value reads back as it was set.
struct SetCase {
  const char* name;
  Bytes before;
  const char *section, *key, *value;
  Bytes after;
};

const SetCase kSets[] = {
    // Replaced where it stands: its spelling and the blanks before '=' kept, odd lines too.
    {"InPlaceKeepingSpellingAndOddLines", "; c\n\n[a]\r\n X = 'y' \n junk\n[b\n=\n\r\n\r\r\n", "A",
     "x", "z", "; c\n\n[a]\r\n X =z\n junk\n[b\n=\n\r\n\r\r\n"},
    {"AfterAValueWithANulByte", Bytes("[a]\nk=v\0w\n", 10), "a", "n", "1",
     Bytes("[a]\nk=v\0w\nn=1\n", 14)},
    {"AfterAByteOrderMark", "\xEF\xBB\xBF[a]\nk=0\n", "a", "k", "1", "\xEF\xBB\xBF[a]\nk=1\n"},
    {"OnAnUnterminatedLastLine", "[KAVO]\r\nact=1", "KAVO", "act", "0", "[KAVO]\r\nact=0"},
    // An unterminated last line gets the file's ending; CR LF when the file has none yet.
    {"AfterAnUnterminatedLastLine", "[KAVO]\nact=1", "KAVO", "limit", "0",
     "[KAVO]\nact=1\nlimit=0\n"},
    {"NewSectionInAFileWithoutEndings", "junk", "prefs", "port", "1",
     "junk\r\n[prefs]\r\nport=1\r\n"},
    {"LastCrJoinsTheNewEnding", "[a]\nk=1\r", "a", "n", "2", "[a]\nk=1\r\nn=2\n"},
    {"IntoAnEmptyLastSection", "[KAVO]\n[prefs]\n", "prefs", "port", "1",
     "[KAVO]\n[prefs]\nport=1\n"},
    // A line that already reads as the value stays as it is, quotes and blanks included.
    {"SameValueKeepsItsLine", "[a]\r\n k = \"v\" \r\n", "a", "K", "v", "[a]\r\n k = \"v\" \r\n"},
    // Values that reading would change are quoted, so that they come back as they were.
    {"BlankPadIsQuoted", "[a]\nartistW=_\n", "a", "artistW", " ", "[a]\nartistW=\" \"\n"},
    {"TrailingTabIsQuotedInANewKey", "[a]\n", "a", "k", "x\t", "[a]\nk=\"x\t\"\n"},
    {"EnclosingQuotesAreQuotedAgain", "[a]\nk=1\n", "a", "k", "'q'", "[a]\nk=\"'q'\"\n"},
    {"QuotesThatDoNotPairStayBare", "[a]\nk=1\n", "a", "k", "\"q'", "[a]\nk=\"q'\n"},
    {"EmptyValueStaysBare", "[a]\nk=1\n", "a", "k", "", "[a]\nk=\n"},
};

TEST(IniDocument, SetChangesOnlyTheKeyAndAddsLinesThatReadBack) {
  for (const SetCase& c : kSets) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IniDocument::Parse(c.before).Serialize(), c.before);
    IniDocument ini = IniDocument::Parse(c.before);
    EXPECT_TRUE(ini.Set(c.section, c.key, c.value));
    EXPECT_EQ(ini.Serialize(), c.after);
    EXPECT_EQ(IniDocument::Parse(c.after).Get(c.section, c.key), c.value);
  }
}

// Names or values that would not read back from one line are refused, the file left as it was.
TEST(IniDocument, RefusesWhatWouldNotReadBackFromOneLine) {
  const std::tuple<const char*, const char*, const char*> refused[] = {
      {"", "k", "v"},    {" a", "k", "v"},       {"a]", "k", "v"},     {"a\n", "k", "v"},
      {"a", "", "v"},    {"a", "k=", "v"},       {"a", "[k", "v"},     {"a", "k ", "v"},
      {"a", "k\r", "v"}, {"a", "k", "v\r\n[b]"}, {"a", "k", "line\n"}, {"a", "k", "\r"}};
  for (const auto& [section, key, value] : refused) {
    IniDocument ini = IniDocument::Parse("[a]\n");
    EXPECT_FALSE(ini.Set(section, key, value)) << section << "|" << key << "|" << value;
    EXPECT_EQ(ini.Serialize(), "[a]\n");
  }
}

// UTF-8 is read as such and anything else as Windows-1252; unchanged text keeps its bytes, and
// an edit is stored as UTF-8.
TEST(StoredText, ReadsUtf8OrWindows1252AndKeepsTheBytesOfUnchangedText) {
  EXPECT_EQ(TextForEditing("Caf\xC3\xA9"), QString::fromUtf8("Caf\u00E9"));
  EXPECT_EQ(TextForEditing("Caf\xE9"), QString::fromUtf8("Caf\u00E9"));
  // The code page's own characters in 0x80..0x9F, and the five bytes it leaves undefined.
  EXPECT_EQ(TextForEditing("\x80\x85\x93\x94\x9F\x81\x9D\xFF"),
            QString::fromUtf8("\u20AC\u2026\u201C\u201D\u0178\u0081\u009D\u00FF"));
  EXPECT_EQ(TextForEditing(Bytes("a\0b", 3)), QString(QStringLiteral("a") + QChar(0) + "b"));
  EXPECT_EQ(BytesForStoring(QString::fromUtf8("Caf\u00E9"), "Caf\xE9"), "Caf\xE9");
  EXPECT_EQ(BytesForStoring(QString::fromUtf8("Caf\u00E9s"), "Caf\xE9"), "Caf\xC3\xA9s");
  // A truncated UTF-8 sequence is not UTF-8: it reads, and stays, as Windows-1252.
  EXPECT_EQ(BytesForStoring(TextForEditing("ab\xC3"), "ab\xC3"), "ab\xC3");
}

// A hand-edited file: the key read, the text that key then saves, and part of the one warning
// about it, if any.
struct EditCase {
  const char *name, *file, *key, *loaded, *warning;
};

constexpr EditCase kEdits[] = {
    {"OnlyOneChecksTheEnableBox", "[KAVO]\nact=2\n", "act", "0", ""},
    {"NamesInAnyCaseAndQuotesDropped", "[kavo]\n ACT = \"1\" \n", "act", "1", ""},
    {"OnlyTrueSelectsTheOwnAwayMessage", "[KAVO]\nawaypref=true\n", "awaypref", "False", ""},
    {"TrueInSingleQuotes", "[KAVO]\nAwayPref='True'\n", "awaypref", "True", ""},
    {"PortKeptAsTyped", "[PREFS]\nport=08080\n", "port", "08080", ""},
    {"QuotedTextKeepsItsBlanks", "[KAVO]\nlaunchpath=\" C:\\a b \" \n", "launchpath", " C:\\a b ",
     ""},
    {"OnlyOnePairOfQuotesDropped", "[KAVO]\nlaunchpath=''x''\n", "launchpath", "'x'", ""},
    // The first line of a key counts, and only it is refused.
    {"SpinThatIsNoNumber", "[KAVO]\nupdateT=abc\nupdateT=99\n", "updateT", "27767",
     "] updateT=\"abc\""},
    {"CheckAboveTwo", "[KAVO]\nprofileact=3\n", "profileact", "1", "] profileact=\"3\""},
    {"CaseAboveThree", "[KAVO]\nsongF=4\n", "songF", "0", "] songF=\"4\""},
    {"DecimalPoint", "[KAVO]\nlaunchcheck=1.0\n", "launchcheck", "0", "] launchcheck=\"1.0\""},
    {"NumberTooLargeForAnyType", "[KAVO]\nawayact=99999999999999999999\n", "awayact", "1",
     "] awayact=\"999"},
    {"PortAbove65535", "[prefs]\nport=70000\n", "port", "3131", "] port=\"70000\""},
    {"EmptyBindAddress", "[prefs]\nbind=\n", "bind", "127.0.0.1", "] bind=\"\""},
    {"SwitchTurnedOff", "[prefs]\nsendOnChange=False\n", "sendOnChange", "False", ""},
    {"SwitchThatIsNeitherTrueNorFalse", "[prefs]\nsendOnChange=false\n", "sendOnChange", "True",
     "] sendOnChange=\"false\""},
    {"EmptyNewTextIsEmpty", "[KAVO]\nalbum=\n", "album", "", ""},
};

TEST(SettingTable, HandEditedValueLoadsOrIsRefusedWithOneWarning) {
  for (const EditCase& c : kEdits) {
    SCOPED_TRACE(c.name);
    Preferences prefs;
    std::vector<std::string> warnings;
    LoadSettings(IniDocument::Parse(c.file), prefs, &warnings);
    const auto row = std::ranges::find(SettingTable(), std::string_view(c.key), &Setting::key);
    ASSERT_NE(row, SettingTable().end());
    EXPECT_EQ(SettingText(prefs, *row), c.loaded);
    EXPECT_THAT(warnings, ::testing::SizeIs(*c.warning == '\0' ? 0 : 1));
    EXPECT_THAT(warnings, ::testing::Each(::testing::HasSubstr(c.warning)));
  }
}

}  // namespace
}  // namespace quorvel
