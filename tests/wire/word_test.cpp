#include "wire/word.h"

#include <gtest/gtest.h>

#include "test_bytes.h"
#include "wire/error.h"

namespace quorvel {
namespace {

using testing::Hex;
using testing::ToHex;

TEST(IntToWord, EncodesBigEndianOverTheWholeRange) {
  const struct {
    std::int32_t value;
    const char* hex;
  } cases[] = {{0, "00 00"},   {1, "00 01"},    {255, "00 FF"},   {256, "01 00"},
               {516, "02 04"}, {5190, "14 46"}, {65534, "FF FE"}, {65535, "FF FF"}};
  for (const auto& c : cases) {
    EXPECT_EQ(ToHex(IntToWord(c.value)), c.hex) << c.value;
    EXPECT_EQ(WordToInt(IntToWord(c.value)), c.value);
  }
}

TEST(IntToWord, RefusesValuesThatDoNotFitWithAClearMessage) {
  for (std::int32_t value : {-1, 65536, 70000, INT32_MIN, INT32_MAX}) {
    EXPECT_THROW(IntToWord(value), Error) << value;
  }
  try {
    IntToWord(70000);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "value 70000 does not fit a 16-bit word");
  }
}

TEST(WordToInt, IsZeroForAnyLengthButTwo) {
  EXPECT_EQ(WordToInt(Hex("80 01")), 32769);
  EXPECT_EQ(WordToInt(""), 0);
  EXPECT_EQ(WordToInt(Hex("FF")), 0);
  EXPECT_EQ(WordToInt(Hex("01 02 03")), 0);
}

TEST(WordLenString, PrefixesTheLength) {
  EXPECT_EQ(ToHex(WordLenString(Hex("61 62 63"))), "00 03 61 62 63");
  EXPECT_EQ(ToHex(WordLenString("")), "00 00");
  const Bytes longest(65535, 'x');
  EXPECT_EQ(WordLenString(longest).substr(0, 2), Hex("FF FF"));
  EXPECT_THROW(WordLenString(Bytes(65536, 'x')), Error);
}

TEST(ByteLenString, ReadsTheCountedBytesAndStopsAtTheEnd) {
  EXPECT_EQ(ByteLenString(Hex("03 61 62 63 64")), "abc");
  EXPECT_EQ(ByteLenString(Hex("05 61 62")), "ab");
  EXPECT_EQ(ByteLenString(Hex("00 61")), "");
  EXPECT_EQ(ByteLenString(Hex("FF")), "");
  EXPECT_EQ(ByteLenString(""), "");
}

}  // namespace
}  // namespace quorvel
