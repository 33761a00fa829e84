#include "wire/tlv.h"

#include <gtest/gtest.h>

#include "test_bytes.h"
#include "wire/error.h"

namespace quorvel {
namespace {

using testing::Hex;

TEST(FindTLV, FindsTheFirstValueOfAType) {
  const struct {
    std::int32_t type;
    const char* chain;
    Bytes expected;
  } cases[] = {
      {2, "00 01 00 02 41 42 00 02 00 01 43", "C"},
      {1, "00 01 00 02 41 42 00 02 00 01 43", "AB"},
      {5, "00 01 00 02 41 42 00 02 00 01 43", "<none>"},
      {2, "", "<none>"},
      {2, "00 02 00 01 41 00 02 00 01 42", "A"},       // the first of two wins
      {2, "00 02 00 05 41 42", "AB"},                  // value cut short by the end of the chain
      {2, "00 02 00 00", ""},                          // empty value, not absent
      {2, "00 02", ""},                                // type without length bytes still matches
      {2, "00", "<none>"},                             // a single byte cannot start a TLV
      {4, "00 01 FF FF 41 00 04 00 01 42", "<none>"},  // a lying length skips past the end
      {0x0102, "01 02 00 01 5A", "Z"},
      {-1, "FF FF 00 00", "<none>"},  // a type out of range is simply absent
      {65536, "00 00 00 00", "<none>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindTLV(c.type, Hex(c.chain)), c.expected) << c.type << " in " << c.chain;
  }
}

TEST(LocateTLV, GivesTheOffsetOfTheMatch) {
  const Bytes chain = Hex("00 01 00 02 41 42 00 04 00 01 43");
  const auto found = LocateTLV(4, chain);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->offset, 6U);
  EXPECT_EQ(found->value, "C");
}

TEST(MakeTLV, WritesTypeLengthAndValue) {
  EXPECT_EQ(testing::ToHex(MakeTLV(4, "")), "00 04 00 00");
  EXPECT_EQ(testing::ToHex(MakeTLV(2, "hi")), "00 02 00 02 68 69");
  EXPECT_EQ(MakeTLV(2, Bytes(65535, 'x')).size(), 65539U);
  EXPECT_THROW(MakeTLV(2, Bytes(65536, 'x')), Error);
  EXPECT_THROW(MakeTLV(65536, "x"), Error);
  EXPECT_THROW(MakeTLV(-1, "x"), Error);
}

}  // namespace
}  // namespace quorvel
