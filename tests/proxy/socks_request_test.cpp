#include "proxy/socks_request.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "test_bytes.h"

namespace quorvel {
namespace {

using testing::Hex;
using testing::ToHex;
using Status = SocksParse::Status;

// A request for 192.0.2.10:5190 from user "u".
const Bytes kConnect = Hex("04 01 14 46 C0 00 02 0A 75 00");

struct ParseCase {
  const char* name;
  Bytes bytes;
  Status status;
  std::size_t size = 0;  // when parsed
};
void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << c.name;
}

const ParseCase kParseCases[] = {
    {"Nothing", "", Status::kIncomplete},
    {"VersionAlone", Hex("04"), Status::kIncomplete},
    {"FixedPartWithoutUserId", Hex("04 01 14 46 C0 00 02 0A"), Status::kIncomplete},
    {"UserIdNotYetEnded", Hex("04 01 14 46 C0 00 02 0A 75"), Status::kIncomplete},
    {"WholeRequest", kConnect, Status::kParsed, 10},
    {"EmptyUserId", Hex("04 01 14 46 C0 00 02 0A 00"), Status::kParsed, 9},
    {"BytesBehindTheRequestAreNotPartOfIt", kConnect + "GET /", Status::kParsed, 10},
    {"ZeroInsideTheAddressDoesNotEndTheUserId", Hex("04 01 00 50 0A 00 00 01 00"), Status::kParsed,
     9},
    {"Socks5Greeting", Hex("05 01 00"), Status::kRejected},
    {"OtherVersionAlone", Hex("05"), Status::kRejected},
    {"Bind", Hex("04 02 14 46 C0 00 02 0A 00"), Status::kRejected},
    {"UserIdEndingOnTheLastByteAllowed",
     Hex("04 01 14 46 C0 00 02 0A") + Bytes(kMaxSocksRequestSize - 9, 'u') + '\0', Status::kParsed,
     kMaxSocksRequestSize},
    {"UserIdOneByteShortOfTheCapStillWaits",
     Hex("04 01 14 46 C0 00 02 0A") + Bytes(kMaxSocksRequestSize - 9, 'u'), Status::kIncomplete},
    {"UserIdRunningPastTheCap",
     Hex("04 01 14 46 C0 00 02 0A") + Bytes(kMaxSocksRequestSize - 8, 'u') + '\0',
     Status::kRejected},
};

class SocksParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(SocksParseTest, StatusAndSize) {
  const SocksParse parse = ParseSocksRequest(GetParam().bytes);
  EXPECT_EQ(parse.status, GetParam().status);
  EXPECT_EQ(parse.size, GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(SocksRequest, SocksParseTest, ::testing::ValuesIn(kParseCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(SocksRequest, ParsedConnectNamesItsDestinationAndIsEchoedInTheReplies) {
  for (const auto& [bytes, host, port] : {
           std::tuple{kConnect, "192.0.2.10", 5190},
           std::tuple{Hex("04 01 FF FF 00 00 00 00 00"), "0.0.0.0", 65535},
           std::tuple{Hex("04 01 80 00 FF 0A 01 FE 00"), "255.10.1.254", 32768},
       }) {
    SCOPED_TRACE(host);
    const SocksParse parse = ParseSocksRequest(bytes);
    ASSERT_EQ(parse.status, Status::kParsed);
    const SocksRequest& request = parse.request;
    EXPECT_EQ(request.destination.kind, SocksDestination::Kind::kIPv4);
    EXPECT_EQ(request.destination.host, host);
    EXPECT_EQ(request.destination.port, port);
    const std::string echo = ToHex(bytes.substr(2, 6));
    EXPECT_EQ(ToHex(SocksGrantedReply(request)), "04 5A " + echo);
    EXPECT_EQ(ToHex(SocksRejectedReply(request)), "04 5B " + echo);
  }
  // Before any request there is nothing to echo.
  EXPECT_EQ(ToHex(SocksRejectedReply(SocksRequest{})), "04 5B");
}

}  // namespace
}  // namespace quorvel
