#include <gtest/gtest.h>

#include "test_bytes.h"
#include "wire/away_snac.h"
#include "wire/error.h"
#include "wire/replace.h"
#include "wire/snac.h"

namespace quorvel {
namespace {

using testing::Hex;
using testing::ToHex;

TEST(SnacKey, ReadsOnlyTheLowBytesOfFamilyAndSubtype) {
  EXPECT_FALSE(SnacKey(Hex("2A 02 00 00 00 00 00 03 00")));  // 9 bytes: no key
  EXPECT_EQ(SnacKey(Hex("2A 02 00 00 00 04 00 02 00 04")), kSnacSetUserInfo);
  // Channel and high bytes are ignored.
  EXPECT_EQ(SnacKey(Hex("2A 05 12 34 00 00 FF 03 EE 0B")), kSnacBuddyOnline);
  EXPECT_EQ(SnacKey(Hex("2A 01 00 00 00 00 00 03 00 0C 00 00")), kSnacBuddyOffline);
  EXPECT_EQ(SnacKey(Hex("2A 02 00 00 00 00 00 17 00 03")), kSnacLoginReply);
}

TEST(SnacData, IsEverythingFromTheSeventeenthByte) {
  const Bytes frame = Hex("2A 02 00 01 00 0B 00 03 00 0B 00 00 00 00 00 00 05 61");
  EXPECT_EQ(SnacData(frame), Hex("05 61"));
  EXPECT_EQ(SnacData(Hex("2A 02 00 01")), "");
}

TEST(MakeAwaySNAC, ClearingIsEighteenBytes) {
  EXPECT_EQ(ToHex(MakeAwaySNAC("", "")), "00 02 00 04 00 00 00 00 00 04 00 03 00 00 00 04 00 00");
}

TEST(MakeAwaySNAC, SettingCarriesMimeThenText) {
  ASSERT_EQ(kAwayMimeUsAscii.size(), 31U);
  const Bytes snac = MakeAwaySNAC(kAwayMimeUsAscii, "hi");
  ASSERT_EQ(snac.size(), 51U);
  EXPECT_EQ(snac.substr(0, 14), Hex("00 02 00 04 00 00 00 00 00 04 00 03 00 1F"));
  EXPECT_EQ(snac.substr(14, 31), kAwayMimeUsAscii);
  EXPECT_EQ(snac.substr(45), Hex("00 04 00 02 68 69"));
  EXPECT_THROW(MakeAwaySNAC(kAwayMimeUsAscii, Bytes(65536, 'x')), Error);
}

TEST(ReplaceAll, ReplacesEveryOccurrenceOnceLeftToRight) {
  const struct {
    const char* text;
    const char* from;
    const char* to;
    const char* expected;
  } cases[] = {
      {"%a - %a", "%a", "Band", "Band - Band"},
      {"aaa", "aa", "b", "ba"},      // non-overlapping, left to right
      {"%a", "%a", "%a%a", "%a%a"},  // what was inserted is not rescanned
      {"text", "", "x", "text"},     // an empty search changes nothing
      {"", "a", "b", ""},
      {"line<BR>next<br>", "<BR>", "\r\n", "line\r\nnext<br>"},  // exact case
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.from, c.to), c.expected) << c.text;
  }
}

}  // namespace
}  // namespace quorvel
