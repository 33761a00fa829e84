#include "settings/settings_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Every row's default loads as it is written and is what new Preferences hold; the window sets
// its controls in load order, so that their reactions see the controls set before.
TEST(SettingTable, EveryDefaultLoadsAsWrittenAndTheLoadOrderIsKavoFirstThenPrefs) {
  const Preferences defaults;
  for (const Setting& setting : SettingTable()) {
    SCOPED_TRACE(setting.key);
    Preferences prefs;
    EXPECT_EQ(ApplySettingText(prefs, setting, Bytes(setting.defaultText)), std::nullopt);
    EXPECT_EQ(SettingText(defaults, setting), setting.defaultText);
  }
  EXPECT_EQ(defaults.IntervalMs(), 5000);
  std::string keys;
  for (const Setting* setting : LoadOrder()) keys += std::string(setting->key) + ' ';
  EXPECT_EQ(
      keys,
      "act ttimeJ artistJ songJ statusJ timeJ replaceII replaceIIblock profileact awayact "
      "awaypref launchcheck launchpath limit artistW songW statusW timeW ttimeW artist status "
      "song time ttime artistN statusN songN timeN ttimeN artistF songF ttimeF statusF timeF "
      "updateT repBufferCheck repBufferText album albumF albumN albumW albumJ port minimize "
      "bind sendOnChange player ignorePlayers autostart ");
}

// A hand-edited file: the key read, the text that key then saves, and part of the one warning
// about it, if any.
struct EditCase {
  const char* name;
  const char* file;
  const char* key;
  const char* loaded;
  const char* warning;
};

constexpr EditCase kEdits[] = {
    {"OnlyOneChecksTheEnableBox", "[KAVO]\nact=2\n", "act", "0", ""},
    {"NamesInAnyCaseAndQuotesDropped", "[kavo]\n ACT = \"1\" \n", "act", "1", ""},
    {"OnlyTrueSelectsTheOwnAwayMessage", "[KAVO]\nawaypref=true\n", "awaypref", "False", ""},
    {"TrueInSingleQuotes", "[KAVO]\nAwayPref='True'\n", "awaypref", "True", ""},
    {"MissingNumberKeepsTheDefault", "[KAVO]\nact=1\n", "updateT", "27767", ""},
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
    {"MissingNewTextKeepsItsDefault", "[KAVO]\nact=1\n", "album", "%l", ""},
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
    if (*c.warning == '\0') {
      EXPECT_THAT(warnings, IsEmpty());
    } else {
      EXPECT_THAT(warnings, ElementsAre(HasSubstr(c.warning)));
    }
  }
}

}  // namespace
}  // namespace quorvel
