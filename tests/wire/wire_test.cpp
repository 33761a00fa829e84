// Words, TLVs, SNACs and the hex notation the tests write bytes in.

#include <gtest/gtest.h>

#include "test_bytes.h"
#include "wire/away_snac.h"
#include "wire/error.h"
#include "wire/hex.h"
#include "wire/replace.h"
#include "wire/snac.h"
#include "wire/tlv.h"
#include "wire/word.h"

namespace quorvel {
namespace {

using namespace testing;

TEST(HexToBytes, ReadsEitherCaseAndShortFormsAndRefusesAnythingButSingleSpacedBytes) {
  EXPECT_EQ(HexToBytes("ff Fe 0 a 00FF"), Bytes("\xFF\xFE\x00\x0A\xFF", 5));
  for (const char* bad : {"", " 2A", "2A ", "2A  02", "100", "2G", "0x2A", "-1"}) {
    EXPECT_THROW(HexToBytes(bad), Error) << '"' << bad << '"';
  }
}

TEST(Word, EncodesBigEndianAndRefusesWhatDoesNotFitAlsoInLengthPrefixes) {
  for (const auto& [value, hex] :
       {std::pair{0, "00 00"}, std::pair{255, "00 FF"}, std::pair{256, "01 00"},
        std::pair{5190, "14 46"}, std::pair{65535, "FF FF"}}) {
    EXPECT_EQ(ToHex(IntToWord(value)), hex) << value;
    EXPECT_EQ(WordToInt(IntToWord(value)), value);
  }
  for (std::int32_t value : {-1, 65536, INT32_MIN}) EXPECT_THROW(IntToWord(value), Error) << value;
  // Any length but two reads as 0.
  EXPECT_EQ(WordToInt(Hex("80 01")), 32769);
  EXPECT_EQ(WordToInt(Hex("FF")), 0);
  EXPECT_EQ(WordToInt(Hex("01 02 03")), 0);
  // Length-prefixed strings.
  EXPECT_EQ(ToHex(WordLenString(Hex("61 62 63"))), "00 03 61 62 63");
  EXPECT_EQ(WordLenString(Bytes(65535, 'x')).substr(0, 2), Hex("FF FF"));
  EXPECT_THROW(WordLenString(Bytes(65536, 'x')), Error);
  EXPECT_EQ(ByteLenString(Hex("03 61 62 63 64")), "abc");
  EXPECT_EQ(ByteLenString(Hex("05 61 62")), "ab");  // stops at the end
  EXPECT_EQ(ByteLenString(Hex("FF")), "");
  EXPECT_EQ(ByteLenString(""), "");
}

TEST(TLV, FindsTheFirstValueOfATypeAndWritesTypeLengthAndValue) {
  const struct {
    std::int32_t type;
    const char* chain;
    Bytes expected;
  } cases[] = {
      {2, "00 01 00 02 41 42 00 02 00 01 43", "C"},
      {5, "00 01 00 02 41 42 00 02 00 01 43", "<none>"},
      {2, "00 02 00 01 41 00 02 00 01 42", "A"},       // the first of two wins
      {2, "00 02 00 05 41 42", "AB"},                  // value cut short by the end of the chain
      {2, "00 02 00 00", ""},                          // empty value, not absent
      {2, "00 02", ""},                                // type without length bytes still matches
      {2, "00", "<none>"},                             // a single byte cannot start a TLV
      {4, "00 01 FF FF 41 00 04 00 01 42", "<none>"},  // a lying length skips past the end
      {0x0102, "01 02 00 01 5A", "Z"},
      {-1, "FF FF 00 00", "<none>"},  // a type out of range is simply absent
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindTLV(c.type, Hex(c.chain)), c.expected) << c.type << " in " << c.chain;
  }
  EXPECT_EQ(LocateTLV(4, Hex("00 01 00 02 41 42 00 04 00 01 43"))->offset, 6U);
  // The TLVs written.
  EXPECT_EQ(ToHex(MakeTLV(2, "hi")), "00 02 00 02 68 69");
  EXPECT_EQ(MakeTLV(2, Bytes(65535, 'x')).size(), 65539U);
  EXPECT_THROW(MakeTLV(2, Bytes(65536, 'x')), Error);
  EXPECT_THROW(MakeTLV(65536, "x"), Error);
  EXPECT_THROW(MakeTLV(-1, "x"), Error);
}

TEST(Snac, KeyFromTheLowBytesOfFamilyAndSubtypeDataFromTheSeventeenthByteAndAway) {
  EXPECT_FALSE(SnacKey(Hex("2A 02 00 00 00 00 00 03 00")));  // 9 bytes: no key
  EXPECT_EQ(SnacKey(Hex("2A 02 00 00 00 04 00 02 00 04")), kSnacSetUserInfo);
  EXPECT_EQ(SnacKey(Hex("2A 05 12 34 00 00 FF 03 EE 0B")), kSnacBuddyOnline);  // high bytes ignored
  EXPECT_EQ(SnacData(Hex("2A 02 00 01 00 0B 00 03 00 0B 00 00 00 00 00 00 05 61")), Hex("05 61"));
  EXPECT_EQ(SnacData(Hex("2A 02 00 01")), "");
  // The away SNAC clears with empty TLVs, and sets the MIME type then the text.
  EXPECT_EQ(ToHex(MakeAwaySNAC("", "")), "00 02 00 04 00 00 00 00 00 04 00 03 00 00 00 04 00 00");
  const Bytes snac = MakeAwaySNAC(kAwayMimeUsAscii, "hi");
  EXPECT_EQ(snac, Hex("00 02 00 04 00 00 00 00 00 04 00 03 00 1F") + Bytes(kAwayMimeUsAscii) +
                      Hex("00 04 00 02 68 69"));
  EXPECT_THROW(MakeAwaySNAC(kAwayMimeUsAscii, Bytes(65536, 'x')), Error);
}

TEST(ReplaceAll, ReplacesEveryOccurrenceOnceLeftToRight) {
  const struct {
    const char *text, *from, *to, *expected;
  } cases[] = {
      {"%a - %a", "%a", "Band", "Band - Band"},
      {"aaa", "aa", "b", "ba"},      // non-overlapping, left to right
      {"%a", "%a", "%a%a", "%a%a"},  // what was inserted is not rescanned
      {"text", "", "x", "text"},     // an empty search changes nothing
      {"line<BR>next<br>", "<BR>", "\r\n", "line\r\nnext<br>"},  // exact case
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.from, c.to), c.expected) << c.text;
  }
}

}  // namespace
}  // namespace quorvel
