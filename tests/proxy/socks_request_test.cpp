#include "proxy/socks_request.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "proxy/address_scope.h"
#include "test_bytes.h"

namespace quorvel {
namespace {

using testing::Hex;
using testing::ToHex;
using Status = SocksParse::Status;

// The fixed part of a SOCKS4a request for port 80 (address 0.0.0.1).
const Bytes k4a = Hex("04 01 00 50 00 00 00 01");
const std::string kRejected4a = "00 5B 00 50 00 00 00 01";
const std::string kSocks5Failure = " 00 01 00 00 00 00 00 00";

struct ParseCase {
  const char* name;
  Bytes bytes;
  Status status;
  std::size_t size = 0;    // when parsed or greeted
  std::string reply = "";  // refused or greeted: the reply's bytes
  std::string host = "";   // parsed: the destination
  SocksStage stage = SocksStage::kOpening;
};
void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << c.name;
}

const ParseCase kParseCases[] = {
    {"Nothing", "", Status::kIncomplete},
    {"EmptyUserId", Hex("04 01 14 46 C0 00 02 0A 00"), Status::kParsed, 9, "", "192.0.2.10"},
    {"ZeroInsideTheAddressDoesNotEndTheUserId", Hex("04 01 00 50 0A 00 00 01 00"), Status::kParsed,
     9, "", "10.0.0.1"},
    {"Bind", Hex("04 02 14 46 C0 00 02 0A 00"), Status::kRefused, 0, "00 5B 14 46 C0 00 02 0A"},
    {"BindCutShortStillGetsEightBytes", Hex("04 02 14"), Status::kRefused, 0,
     "00 5B 14 00 00 00 00 00"},
    {"PortZero", Hex("04 01 00 00 C0 00 02 0A 00"), Status::kRefused, 0, "00 5B 00 00 C0 00 02 0A"},
    {"UserIdEndingOnTheLastByteAllowed",
     Hex("04 01 14 46 C0 00 02 0A") + Bytes(kMaxSocks4UserIdEnd - 9, 'u') + '\0', Status::kParsed,
     kMaxSocks4UserIdEnd, "", "192.0.2.10"},
    {"UserIdOneByteShortOfTheCapStillWaits",
     Hex("04 01 14 46 C0 00 02 0A") + Bytes(kMaxSocks4UserIdEnd - 9, 'u'), Status::kIncomplete},
    {"UserIdRunningPastTheCap",
     Hex("04 01 14 46 C0 00 02 0A") + Bytes(kMaxSocks4UserIdEnd - 8, 'u') + '\0', Status::kRefused,
     0, "00 5B 14 46 C0 00 02 0A"},
    {"Socks4aLongestName", k4a + '\0' + Bytes(255, 'n') + '\0', Status::kParsed, 9 + 256, "",
     Bytes(255, 'n')},
    {"Socks4aNameTooLong", k4a + '\0' + Bytes(256, 'n'), Status::kRefused, 0, kRejected4a},
    {"Socks4aEmptyName", k4a + '\0' + '\0', Status::kRefused, 0, kRejected4a},
    {"Socks4aAddressZeroIsAnAddress", Hex("04 01 00 50 00 00 00 00 00"), Status::kParsed, 9, "",
     "0.0.0.0"},
    {"OtherVersion", Hex("06 01 00"), Status::kRefused},
    {"HttpIsNotSocks", "GET / HTTP/1.1\r\n", Status::kRefused},
    {"Socks5NoAuthenticationAmongOthers", Hex("05 03 02 01 00"), Status::kGreeting, 5, "05 00"},
    {"Socks5PasswordOnly", Hex("05 01 02"), Status::kRefused, 0, "05 FF"},
    {"Socks5NoMethods", Hex("05 00"), Status::kRefused, 0, "05 FF"},
    {"Socks5AllMethods", Hex("05 FF") + Bytes(254, '\x01') + '\0', Status::kGreeting, 257, "05 00"},
    {"Socks5LongestName", Hex("05 01 00 03 FF") + Bytes(255, 'n') + Hex("00 50"), Status::kParsed,
     262, "", Bytes(255, 'n'), SocksStage::kSocks5Request},
    {"Socks5EmptyName", Hex("05 01 00 03 00 00 50"), Status::kRefused, 0, "05 01" + kSocks5Failure,
     "", SocksStage::kSocks5Request},
    {"Socks5Bind", Hex("05 02"), Status::kRefused, 0, "05 07" + kSocks5Failure, "",
     SocksStage::kSocks5Request},
    {"Socks5UdpAssociate", Hex("05 03 00 01 00 00 00 00 00 00"), Status::kRefused, 0,
     "05 07" + kSocks5Failure, "", SocksStage::kSocks5Request},
    {"Socks5UnknownAddressType", Hex("05 01 00 02 01 02 03 04 00 50"), Status::kRefused, 0,
     "05 08" + kSocks5Failure, "", SocksStage::kSocks5Request},
    {"Socks5PortZero", Hex("05 01 00 01 C0 00 02 0A 00 00"), Status::kRefused, 0,
     "05 01" + kSocks5Failure, "", SocksStage::kSocks5Request},
    {"Socks5RequestOfAnotherVersion", Hex("04 01 00 01"), Status::kRefused, 0,
     "05 01" + kSocks5Failure, "", SocksStage::kSocks5Request},
};

class SocksParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(SocksParseTest, StatusSizeReplyAndDestination) {
  const ParseCase& c = GetParam();
  const SocksParse parse = ParseSocksRequest(c.bytes, c.stage);
  EXPECT_EQ(parse.status, c.status);
  EXPECT_EQ(parse.size, c.size);
  EXPECT_EQ(ToHex(parse.reply), c.reply);
  EXPECT_EQ(parse.request.destination.host, c.host);
}

INSTANTIATE_TEST_SUITE_P(SocksRequest, SocksParseTest, ::testing::ValuesIn(kParseCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(SocksRequest, Socks4RepliesBeginWithZeroAndEchoTheDestination) {
  for (const auto& [bytes, host, port] : {
           std::tuple{Hex("04 01 FF FF 00 00 00 00 00"), "0.0.0.0", 65535},
           std::tuple{Hex("04 01 80 00 FF 0A 01 FE 00"), "255.10.1.254", 32768},
       }) {
    SCOPED_TRACE(host);
    const SocksParse parse = ParseSocksRequest(bytes);
    ASSERT_EQ(parse.status, Status::kParsed);
    const SocksRequest& request = parse.request;
    EXPECT_EQ(request.destination.host, host);
    EXPECT_EQ(request.destination.port, port);
    const std::string echo = ToHex(bytes.substr(2, 6));
    EXPECT_EQ(ToHex(SocksGrantedReply(request, "127.0.0.1", 4000)), "00 5A " + echo);
    EXPECT_EQ(ToHex(SocksFailureReply(request, SocksFailure::kRefused)), "00 5B " + echo);
  }
  // Before any request there is nothing to echo.
  EXPECT_EQ(ToHex(SocksFailureReply(SocksRequest{})), "00 5B 00 00 00 00 00 00");
}

// The failure codes are shown where the relay answers with them.
TEST(SocksRequest, Socks5GrantsCarryTheBoundAddress) {
  SocksRequest request;
  request.version = kSocks5Version;
  EXPECT_EQ(ToHex(SocksGrantedReply(request, "127.0.0.1", 0x1234)),
            "05 00 00 01 7F 00 00 01 12 34");
  EXPECT_EQ(ToHex(SocksGrantedReply(request, "::1", 80)),
            "05 00 00 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 50");
  EXPECT_EQ(ToHex(SocksGrantedReply(request, "", 0)), "05 00 00 01 00 00 00 00 00 00");
}

TEST(SocksRequest, IPv6AddressesReadAndWrittenInTheirUsualForm) {
  for (const auto& [text, hex] : {
           std::pair{"::1", "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01"},
           std::pair{"::", "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
           std::pair{"2001:db8::2:1", "20 01 0D B8 00 00 00 00 00 00 00 00 00 02 00 01"},
           std::pair{"2001:db8:0:1:1:1:1:1", "20 01 0D B8 00 00 00 01 00 01 00 01 00 01 00 01"},
           std::pair{"fe80::", "FE 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
           std::pair{"1:0:0:2::3", "00 01 00 00 00 00 00 02 00 00 00 00 00 00 00 03"},
           std::pair{"::ffff:127.0.0.1", "00 00 00 00 00 00 00 00 00 00 FF FF 7F 00 00 01"},
       }) {
    SCOPED_TRACE(text);
    Bytes address;
    ASSERT_TRUE(ParseIPv6(text, address));
    EXPECT_EQ(ToHex(address), hex);
    // The text a SOCKS5 request for those bytes names.
    const SocksParse parse =
        ParseSocksRequest(Hex("05 01 00 04") + address + Hex("00 50"), SocksStage::kSocks5Request);
    if (std::string(text).find('.') == std::string::npos) {
      EXPECT_EQ(parse.request.destination.host, text);
    }
  }
  Bytes unused;
  for (const char* bad : {"", ":", ":::", "1::2::3", "1:2:3:4:5:6:7", "1:2:3:4:5:6:7:8:9",
                          "12345::", "g::", "1:", "::1.2.3", "localhost", "1.2.3.4"}) {
    EXPECT_FALSE(ParseIPv6(bad, unused)) << bad;
  }
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 "}) {
    EXPECT_FALSE(ParseIPv4(bad, unused)) << bad;
  }
}

TEST(AddressScope, LoopbackAndLinkLocalAreToldFromTheRest) {
  for (const char* local : {"127.0.0.1", "127.8.9.10", "::1", "::ffff:127.0.0.2", "0.0.0.0",
                            "::", "169.254.1.1", "fe80::1", "febf::1"}) {
    EXPECT_TRUE(IsHostOrLinkLocalAddress(local)) << local;
  }
  for (const char* remote : {"192.0.2.10", "10.0.0.1", "2001:db8::1", "fec0::1", "localhost",
                             "169.253.1.1", "128.0.0.1", ""}) {
    EXPECT_FALSE(IsHostOrLinkLocalAddress(remote)) << remote;
  }
  EXPECT_TRUE(IsLoopbackAddress("127.0.0.1"));
  EXPECT_TRUE(IsLoopbackAddress("::1"));
  EXPECT_TRUE(IsLoopbackAddress("::ffff:127.0.0.1"));
  EXPECT_FALSE(IsLoopbackAddress("0.0.0.0"));
  EXPECT_FALSE(IsLoopbackAddress("192.168.1.2"));
  EXPECT_FALSE(IsLoopbackAddress("localhost"));
}

}  // namespace
}  // namespace quorvel
