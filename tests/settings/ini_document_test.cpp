#include "settings/ini_document.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace quorvel {
namespace {

// Setting one key in a file: what the file holds before, the key and its value, and what the file
// holds after; every stored value reads back as it was set.
struct SetCase {
  const char* name;
  Bytes before;
  const char* section;
  const char* key;
  const char* value;
  Bytes after;
};

class IniDocumentSet : public ::testing::TestWithParam<SetCase> {};

TEST_P(IniDocumentSet, ChangesOnlyTheKeyAndAddsLinesThatReadBack) {
  const SetCase& c = GetParam();
  EXPECT_EQ(IniDocument::Parse(c.before).Serialize(), c.before);
  IniDocument ini = IniDocument::Parse(c.before);
  EXPECT_TRUE(ini.Set(c.section, c.key, c.value));
  EXPECT_EQ(ini.Serialize(), c.after);
  EXPECT_EQ(IniDocument::Parse(c.after).Get(c.section, c.key), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniDocumentSet,
    ::testing::Values(
        // Replaced where it stands: its spelling and the blanks before '=' kept, odd lines too.
        SetCase{"InPlaceKeepingSpellingAndOddLines",
                "; c\n\n[a]\r\n X = 'y' \n junk\n[b\n=\n\r\n\r\r\n", "A", "x", "z",
                "; c\n\n[a]\r\n X =z\n junk\n[b\n=\n\r\n\r\r\n"},
        SetCase{"AfterAValueWithANulByte", Bytes("[a]\nk=v\0w\n", 10), "a", "n", "1",
                Bytes("[a]\nk=v\0w\nn=1\n", 14)},
        SetCase{"AfterAByteOrderMark", "\xEF\xBB\xBF[a]\nk=0\n", "a", "k", "1",
                "\xEF\xBB\xBF[a]\nk=1\n"},
        SetCase{"OnAnUnterminatedLastLine", "[KAVO]\r\nact=1", "KAVO", "act", "0",
                "[KAVO]\r\nact=0"},
        // An unterminated last line gets the file's ending; CR LF when the file has none yet.
        SetCase{"AfterAnUnterminatedLastLine", "[KAVO]\nact=1", "KAVO", "limit", "0",
                "[KAVO]\nact=1\nlimit=0\n"},
        SetCase{"NewSectionInAFileWithoutEndings", "junk", "prefs", "port", "1",
                "junk\r\n[prefs]\r\nport=1\r\n"},
        SetCase{"LastCrJoinsTheNewEnding", "[a]\nk=1\r", "a", "n", "2", "[a]\nk=1\r\nn=2\n"},
        SetCase{"IntoAnEmptyLastSection", "[KAVO]\n[prefs]\n", "prefs", "port", "1",
                "[KAVO]\n[prefs]\nport=1\n"},
        // A line that already reads as the value stays as it is, quotes and blanks included.
        SetCase{"SameValueKeepsItsLine", "[a]\r\n k = \"v\" \r\n", "a", "K", "v",
                "[a]\r\n k = \"v\" \r\n"},
        // Values that reading would change are quoted, so that they come back as they were.
        SetCase{"BlankPadIsQuoted", "[a]\nartistW=_\n", "a", "artistW", " ",
                "[a]\nartistW=\" \"\n"},
        SetCase{"TrailingTabIsQuotedInANewKey", "[a]\n", "a", "k", "x\t", "[a]\nk=\"x\t\"\n"},
        SetCase{"EnclosingQuotesAreQuotedAgain", "[a]\nk=1\n", "a", "k", "'q'", "[a]\nk=\"'q'\"\n"},
        SetCase{"QuotesThatDoNotPairStayBare", "[a]\nk=1\n", "a", "k", "\"q'", "[a]\nk=\"q'\n"},
        SetCase{"EmptyValueStaysBare", "[a]\nk=1\n", "a", "k", "", "[a]\nk=\n"}),
    [](const auto& tested) { return std::string(tested.param.name); });

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

}  // namespace
}  // namespace quorvel
