#include "wire/hex.h"

#include <gtest/gtest.h>

#include "test_bytes.h"
#include "wire/error.h"
#include "wire/flap.h"

namespace quorvel {
namespace {

TEST(HexToBytes, ReadsTheFlapTemplate) {
  EXPECT_EQ(HexToBytes(kFlapTemplateHex), Bytes("\x2A\x02\x00\x00\x00\x00", 6));
}

TEST(HexToBytes, AcceptsEitherCaseAndShortForms) {
  EXPECT_EQ(HexToBytes("ff Fe 0 a 00FF"), Bytes("\xFF\xFE\x00\x0A\xFF", 5));
}

TEST(HexToBytes, RefusesAnythingButSingleSpacedBytes) {
  for (const char* bad : {"", " 2A", "2A ", "2A  02", "100", "2G", "0x2A", "2A\t02", "-1"}) {
    EXPECT_THROW(HexToBytes(bad), Error) << '"' << bad << '"';
  }
}

}  // namespace
}  // namespace quorvel
