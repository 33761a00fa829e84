#include "media/token_free_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel {
namespace {

const std::vector<Bytes> kTokens = {"%a", "%s", "%p"};

struct LineCase {
  const char* name;
  const char* text;
  const char* freed;
};

class TokenFreeTextTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(TokenFreeTextTest, TakesTokensOutAndLinesLeftBare) {
  EXPECT_EQ(TokenFreeText(GetParam().text, kTokens), GetParam().freed);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TokenFreeTextTest,
    ::testing::Values(
        LineCase{"NoTokenNoChange", ":: -- ::<BR><BR>  ", ":: -- ::<BR><BR>  "},
        LineCase{"LineOfTokensGoesWithItsBreak", "Now:<br>%a - %s<br>bye", "Now:<br>bye"},
        LineCase{"LastLineGoesWithTheBreakBeforeIt", "Now:<BR>:: %a ::", "Now:"},
        LineCase{"FirstLineGoesWithTheBreakAfterIt", "%a - %s\r\nbye", "bye"},
        LineCase{"EveryKindOfBreak", "A\r%a\nB<Br />%s<bR/>C\r\n%p", "A\rB<Br />C"},
        LineCase{"TagsOfARemovedLineStay", "<HTML><B>%a</B><BR>x %s</HTML>",
                 "<HTML><B></B>x </HTML>"},
        LineCase{"TagsDoNotCountAsText", "<FONT COLOR=\"red\">%a</FONT>",
                 "<FONT COLOR=\"red\"></FONT>"},
        LineCase{"AnOpenAngleIsText", "<3 %a", "<3 "},
        LineCase{"DigitsAndLettersBeyondAsciiKeepALine", "1 %a<BR>\xC3\xA9%s<BR>\xE2\x99\xAA %p",
                 "1 <BR>\xC3\xA9"},
        LineCase{"EmojiAndDashesAreNoText", "\xF0\x9F\x8E\xB5 %a \xE2\x80\x94 %s", ""},
        LineCase{"TrailingBreakOfTheTextStays", "A<BR>%a<BR>", "A<BR>"},
        LineCase{"TokensThatFormWhereOthersGo", "x %%aa %%%ass", "x  "}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(TokenFreeText, EmptyTokensAreNoTokens) {
  const std::vector<Bytes> tokens = {"", "%a"};
  EXPECT_EQ(TokenFreeText("a%ab", tokens), "ab");
  EXPECT_EQ(TokenFreeText("", tokens), "");
}

}  // namespace
}  // namespace quorvel
