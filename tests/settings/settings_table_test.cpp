#include "settings/settings_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const Setting& Row(std::string_view key) {
  for (const Setting& setting : SettingTable()) {
    if (setting.key == key) return setting;
  }
  throw std::logic_error("no setting " + std::string(key));
}

TEST(SettingTable, EveryDefaultLoadsAsItIsWrittenAndIsWhatNewPreferencesHold) {
  const Preferences defaults;
  for (const Setting& setting : SettingTable()) {
    SCOPED_TRACE(setting.key);
    Preferences prefs;
    EXPECT_EQ(ApplySettingText(prefs, setting, Bytes(setting.defaultText)), std::nullopt);
    EXPECT_EQ(SettingText(defaults, setting), setting.defaultText);
  }
  EXPECT_EQ(defaults.IntervalMs(), 5000);
}

// The window sets its controls in this order, so their reactions see the controls set before.
TEST(SettingTable, LoadOrderIsKavoFirstThenPrefs) {
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

class HandEditedValue : public ::testing::TestWithParam<EditCase> {};

TEST_P(HandEditedValue, LoadsOrIsRefusedWithOneWarning) {
  const EditCase& c = GetParam();
  Preferences prefs;
  std::vector<std::string> warnings;
  LoadSettings(IniDocument::Parse(c.file), prefs, &warnings);
  EXPECT_EQ(SettingText(prefs, Row(c.key)), c.loaded);
  if (*c.warning == '\0') {
    EXPECT_THAT(warnings, IsEmpty());
  } else {
    EXPECT_THAT(warnings, ElementsAre(HasSubstr(c.warning)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HandEditedValue,
    ::testing::Values(
        EditCase{"OnlyOneChecksTheEnableBox", "[KAVO]\nact=2\n", "act", "0", ""},
        EditCase{"NamesInAnyCaseAndQuotesDropped", "[kavo]\n ACT = \"1\" \n", "act", "1", ""},
        EditCase{"OnlyTrueSelectsTheOwnAwayMessage", "[KAVO]\nawaypref=true\n", "awaypref", "False",
                 ""},
        EditCase{"TrueInSingleQuotes", "[KAVO]\nAwayPref='True'\n", "awaypref", "True", ""},
        EditCase{"MissingTextIsEmpty", "[KAVO]\nact=1\n", "artist", "", ""},
        EditCase{"MissingNumberKeepsTheDefault", "[KAVO]\nact=1\n", "updateT", "27767", ""},
        EditCase{"PortKeptAsTyped", "[PREFS]\nport=08080\n", "port", "08080", ""},
        EditCase{"QuotedTextKeepsItsBlanks", "[KAVO]\nlaunchpath=\" C:\\a b \" \n", "launchpath",
                 " C:\\a b ", ""},
        EditCase{"OnlyOnePairOfQuotesDropped", "[KAVO]\nlaunchpath=''x''\n", "launchpath", "'x'",
                 ""},
        EditCase{"FirstLineOfAKeyCounts", "[KAVO]\nlaunchpath=a=b\nlaunchpath=c\n", "launchpath",
                 "a=b", ""},
        EditCase{"SpinThatIsNoNumber", "[KAVO]\nupdateT=abc\nupdateT=99\n", "updateT", "27767",
                 "] updateT=\"abc\""},
        EditCase{"CheckAboveTwo", "[KAVO]\nprofileact=3\n", "profileact", "1",
                 "] profileact=\"3\""},
        EditCase{"CaseAboveThree", "[KAVO]\nsongF=4\n", "songF", "0", "] songF=\"4\""},
        EditCase{"CaseBelowMinusOne", "[KAVO]\nartistF=-2\n", "artistF", "0", "] artistF=\"-2\""},
        EditCase{"EmptyNumber", "[prefs]\nminimize=\n", "minimize", "1", "] minimize=\"\""},
        EditCase{"DecimalPoint", "[KAVO]\nlaunchcheck=1.0\n", "launchcheck", "0",
                 "] launchcheck=\"1.0\""},
        EditCase{"NumberTooLargeForAnyType", "[KAVO]\nawayact=99999999999999999999\n", "awayact",
                 "1", "] awayact=\"999"},
        EditCase{"PortAbove65535", "[prefs]\nport=70000\n", "port", "3131", "] port=\"70000\""},
        EditCase{"EmptyBindAddress", "[prefs]\nbind=\n", "bind", "127.0.0.1", "] bind=\"\""},
        EditCase{"MissingSwitchKeepsItsDefault", "[prefs]\nport=1\n", "sendOnChange", "True", ""},
        EditCase{"SwitchTurnedOff", "[prefs]\nsendOnChange=False\n", "sendOnChange", "False", ""},
        EditCase{"SwitchThatIsNeitherTrueNorFalse", "[prefs]\nsendOnChange=false\n", "sendOnChange",
                 "True", "] sendOnChange=\"false\""},
        EditCase{"MissingNewTextKeepsItsDefault", "[KAVO]\nact=1\n", "album", "%l", ""},
        EditCase{"EmptyNewTextIsEmpty", "[KAVO]\nalbum=\n", "album", "", ""},
        EditCase{"OnlyTrueStartsWithTheSession", "[prefs]\nautostart=true\n", "autostart", "False",
                 "] autostart=\"true\""}),
    [](const auto& tested) { return std::string(tested.param.name); });

}  // namespace
}  // namespace quorvel
