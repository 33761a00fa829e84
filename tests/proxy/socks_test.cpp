// SOCKS: the request parser's limits, the addresses it reads and their scope, and the relay's side
// of the handshakes against the fake network (every form of request, the replies that grant or
// refuse it, the request timeout, and whom a proxy open to other machines serves).

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "proxy/address_scope.h"
#include "proxy/relay.h"
#include "proxy/socks_request.h"
#include "relay_rig.h"

namespace quorvel {
namespace {

using enum SocksParse::Status;
using enum SocksStage;

// The fixed parts of a SOCKS4 request for 192.0.2.10:5190, a SOCKS4a one for port 80, and a
// SOCKS5 one; the longest user id and name allowed.
const Bytes k4 = Hex("04 01 14 46 C0 00 02 0A"), k4a = Hex("04 01 00 50 00 00 00 01");
const Bytes k5 = Hex("05 01 00"), kHello5 = Hex("05 01 00"), kUser(kMaxSocks4UserIdEnd - 9, 'u'),
            kName(255, 'n');
const std::string kRejected4 = "00 5B 14 46 C0 00 02 0A", kRejected4a = "00 5B 00 50 00 00 00 01";
const std::string kFailed5 = " 00 01 00 00 00 00 00 00";

// The forms of request that connect are shown where the relay serves them; these are the limits.
TEST(SocksRequest, StatusSizeAndReplyOrDestination) {
  const struct {
    const char* name;
    Bytes bytes;
    SocksParse::Status status;
    std::size_t size = 0;     // when parsed or greeted
    std::string expect = "";  // parsed: the destination; else the reply's bytes
    SocksStage stage = kOpening;
  } cases[] = {
      {"a zero in the address", Hex("04 01 00 50 0A 00 00 01 00"), kParsed, 9, "10.0.0.1"},
      {"address 0", Hex("04 01 00 50 00 00 00 00 00"), kParsed, 9, "0.0.0.0"},
      {"bind cut short", Hex("04 02 14"), kRefused, 0, "00 5B 14 00 00 00 00 00"},
      {"port 0", Hex("04 01 00 00 C0 00 02 0A 00"), kRefused, 0, "00 5B 00 00 C0 00 02 0A"},
      {"user id up to the cap", k4 + kUser + '\0', kParsed, kMaxSocks4UserIdEnd, "192.0.2.10"},
      {"user id unended at the cap", k4 + kUser, kIncomplete},
      {"user id past the cap", k4 + kUser + "u" + '\0', kRefused, 0, kRejected4},
      {"4a longest name", k4a + '\0' + kName + '\0', kParsed, 9 + 256, kName},
      {"4a name too long", k4a + '\0' + kName + 'n', kRefused, 0, kRejected4a},
      {"4a empty name", k4a + '\0' + '\0', kRefused, 0, kRejected4a},
      {"5 no-authentication among others", Hex("05 03 02 01 00"), kGreeting, 5, "05 00"},
      {"5 password only", Hex("05 01 02"), kRefused, 0, "05 FF"},
      {"5 longest name", k5 + Hex("03 FF") + kName + Hex("00 50"), kParsed, 262, kName,
       kSocks5Request},
      {"5 empty name", k5 + Hex("03 00 00 50"), kRefused, 0, "05 01" + kFailed5, kSocks5Request},
      {"5 unknown address type", k5 + Hex("02 01 02 03 04 00 50"), kRefused, 0, "05 08" + kFailed5,
       kSocks5Request},
      {"5 port 0", k5 + Hex("01 C0 00 02 0A 00 00"), kRefused, 0, "05 01" + kFailed5,
       kSocks5Request},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SocksParse parse = ParseSocksRequest(c.bytes, c.stage);
    EXPECT_EQ(parse.status, c.status);
    EXPECT_EQ(parse.size, c.size);
    EXPECT_EQ(c.status == kParsed ? parse.request.destination.host : ToHex(parse.reply), c.expect);
  }
}

TEST(SocksRequest, AddressesReadAndWrittenInTheirUsualForm) {
  for (const auto& [text, hex] : {
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
        ParseSocksRequest(Hex("05 01 00 04") + address + Hex("00 50"), kSocks5Request);
    if (std::string(text).find('.') == std::string::npos) {
      EXPECT_EQ(parse.request.destination.host, text);
    }
  }
  Bytes unused;
  for (const char* bad : {"", ":::", "1::2::3", "1:2:3:4:5:6:7", "1:2:3:4:5:6:7:8:9",
                          "12345::", "g::", "1:", "::1.2.3", "1.2.3.4"})
    EXPECT_FALSE(ParseIPv6(bad, unused)) << bad;
  for (const char* bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 "})
    EXPECT_FALSE(ParseIPv4(bad, unused)) << bad;
}

TEST(AddressScope, LoopbackAndLinkLocalAreToldFromTheRest) {
  for (const char* local : {"127.8.9.10", "::1", "::ffff:127.0.0.2", "0.0.0.0", "::", "169.254.1.1",
                            "fe80::1", "febf::1"})
    EXPECT_TRUE(IsHostOrLinkLocalAddress(local)) << local;
  for (const char* remote :
       {"192.0.2.10", "2001:db8::1", "fec0::1", "localhost", "169.253.1.1", "128.0.0.1", ""})
    EXPECT_FALSE(IsHostOrLinkLocalAddress(remote)) << remote;
  for (const char* loopback : {"127.0.0.1", "::1", "::ffff:127.0.0.1"})
    EXPECT_TRUE(IsLoopbackAddress(loopback)) << loopback;
  for (const char* other : {"0.0.0.0", "192.168.1.2", "localhost"})
    EXPECT_FALSE(IsLoopbackAddress(other)) << other;
}

TEST(RelayHandshake, EachFormConnectsWhereItAsksAndIsGrantedWhereverItIsSplit) {
  const std::string kGranted5 = "05 00 05 00 00 01 7F 00 00 05 9C 40";
  const struct {
    const char* name;
    Bytes stream;  // the whole handshake, then "data"
    std::string host;
    std::uint16_t port;
    std::string replies;  // all the client gets, the grant last
  } forms[] = {
      {"SOCKS4", Request(65535, "someone") + "data", "192.0.2.10", 65535,
       "00 5A FF FF C0 00 02 0A"},
      {"SOCKS4a", Hex("04 01 00 50 00 00 00 07") + "u" + '\0' + "localhost" + '\0' + "data",
       "localhost", 80, "00 5A 00 50 00 00 00 07"},
      {"SOCKS5 IPv4", kHello5 + k5 + Hex("01 C0 00 02 0A 00 50") + "data", "192.0.2.10", 80,
       kGranted5},
      {"SOCKS5 domain", kHello5 + k5 + Hex("03 0B") + "example.org" + Hex("01 BB") + "data",
       "example.org", 443, kGranted5},
      {"SOCKS5 IPv6", kHello5 + k5 + Hex("04") + Bytes(15, '\0') + Hex("01 14 46") + "data", "::1",
       5190, kGranted5},
  };
  for (const auto& form : forms) {
    for (std::size_t cut = 0; cut < form.stream.size(); ++cut) {
      SCOPED_TRACE(std::string(form.name) + ", split after " + std::to_string(cut));
      Rig r;
      const SlotIndex i = r.ClientConnects();
      r.Client(i).Arrive(form.stream.substr(0, cut));
      r.Client(i).Arrive(form.stream.substr(cut));
      EXPECT_EQ(r.Server(i).RemoteHostIP(), form.host);
      EXPECT_EQ(r.Server(i).RemotePort(), form.port);
      r.Server(i).localIp = "127.0.0.5";
      r.Server(i).localPort = 40000;
      r.Server(i).CompleteConnect();
      EXPECT_EQ(ToHex(r.Client(i).TakeSent()), form.replies);
      // What was sent behind the request goes to the server once the grant is out; on 5190 as a
      // chunk, since it is not a frame.
      EXPECT_EQ(r.events, (Lines{"Socket (1): Connecting: " + form.host,
                                 "BytesFromClient 1 port " + std::to_string(form.port) + ": " +
                                     ToHex("data")}));
      EXPECT_EQ(r.Server(i).TakeSent(), "data");
    }
  }
}

// Which requests are refused, and with which reply, is the request parser's; the relay sends the
// reply, whatever the stage, and closes. A failed connect is answered with the code its failure
// maps to.
TEST(RelayHandshake, RequestsRefusedOrFailingToConnectAreAnsweredThenClosed) {
  const Bytes to5 = kHello5 + k5 + Hex("01 C0 00 02 0A 00 50");
  const struct {
    const char* name;
    Bytes stream;
    std::optional<SocketFailure> failure;  // how the connect fails; unset: refused at once
    std::string reply;
  } cases[] = {
      {"SOCKS4 BIND", Hex("04 02 14 46 C0 00 02 0A 00"), {}, "00 5B 14 46 C0 00 02 0A"},
      {"SOCKS5 UDP ASSOCIATE", kHello5 + Hex("05 03"), {}, "05 00 05 07" + kFailed5},
      {"another protocol", "GET / HTTP/1.0\r\n\r\n", {}, ""},
      {"SOCKS4, timed out", Request(80), SocketFailure::kTimedOut, "00 5B 00 50 C0 00 02 0A"},
      {"refused", to5, SocketFailure::kRefused, "05 00 05 05" + kFailed5},
      {"host unreachable", to5, SocketFailure::kHostUnreachable, "05 00 05 04" + kFailed5},
      {"network unreachable", to5, SocketFailure::kNetworkUnreachable, "05 00 05 03" + kFailed5},
      {"timed out", to5, SocketFailure::kTimedOut, "05 00 05 04" + kFailed5},
      {"anything else", to5, SocketFailure::kOther, "05 00 05 01" + kFailed5},
  };
  Rig r;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    r.events.clear();
    ASSERT_EQ(r.ClientConnects(), 1);  // the slot before was freed
    r.Client(1).Arrive(c.stream);
    if (c.failure) r.Server(1).FailConnect("it failed", *c.failure);
    EXPECT_EQ(ToHex(r.Client(1).TakeSent()), c.reply);
    EXPECT_EQ(r.Client(1).State(), SocketState::kClosed);
    EXPECT_EQ(r.Server(1).State(), SocketState::kClosed);
    EXPECT_EQ(r.events.back(), c.failure ? "Socket (1): Socket Error: it failed (192.0.2.10)"
                                         : "Socket (1): Request Refused");
  }
}

TEST(RelayHandshake, AClientThatDoesNotCompleteItsRequestInTimeIsClosed) {
  Rig r;
  r.relay.SetRequestTimeout(1500);
  const SlotIndex idle = r.ClientConnects();
  r.Client(idle).Arrive(Hex("04 01 00"));
  const SlotIndex slow = r.ClientConnects();  // its server never answers
  r.Client(slow).Arrive(Request(80));
  const SlotIndex granted = r.Relaying(80);
  for (auto* timer : r.net.timers) EXPECT_TRUE(!timer->Running() || timer->ms == 1500);
  r.net.FireTimers();
  EXPECT_EQ(r.events, (Lines{"Socket (1): Request Timed Out", "Socket (2): Request Timed Out"}));
  EXPECT_EQ(r.Client(idle).State(), SocketState::kClosed);
  EXPECT_EQ(ToHex(r.Client(slow).TakeSent()), "00 5B 00 50 C0 00 02 0A");
  EXPECT_EQ(r.Client(slow).State(), SocketState::kClosed);
  EXPECT_EQ(r.Client(granted).State(), SocketState::kConnected);
}

TEST(RelayHandshake, AProxyOpenToOtherMachinesDoesNotLendThemThisOnesServices) {
  const Bytes toLoopback = Hex("04 01 00 50 7F 00 00 01 00");
  const Bytes toName = Hex("04 01 00 50 00 00 00 01 00") + "localhost" + '\0';
  const struct {
    const char* name;
    bool open;  // bound to every address rather than loopback
    std::string client;
    Bytes request;
    std::string refusal;  // empty: connected and granted
  } cases[] = {
      {"loopback, from loopback", true, "127.0.0.1", toLoopback, ""},
      {"loopback, from another machine, proxy on loopback", false, "192.0.2.77", toLoopback, ""},
      {"loopback, from another machine", true, "192.0.2.77", toLoopback, "00 5B 00 50 7F 00 00 01"},
      {"link-local, from another machine", true, "192.0.2.77",
       kHello5 + k5 + Hex("04 FE 80") + Bytes(13, '\0') + Hex("01 00 50"),
       "05 00 05 02 00 01 00 00 00 00 00 00"},
      // A name is judged by the address it resolves to, before anything is relayed.
      {"a name for loopback, from another machine", true, "192.0.2.77", toName,
       "00 5B 00 50 00 00 00 01"},
      {"another machine's address, from another machine", true, "192.0.2.77", Request(80), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    if (c.open) {
      r.relay.SetBindAddress("0.0.0.0");
      r.relay.StartListening(3131);
    }
    r.net.clientAddress = c.client;
    const SlotIndex i = r.ClientConnects();
    r.Client(i).Arrive(c.request);
    if (r.Server(i).State() == SocketState::kConnecting) {
      if (c.request == toName) r.Server(i).ConnectsTo("127.0.0.1");
      r.Server(i).CompleteConnect();
    }
    const std::string reply = ToHex(r.Client(i).TakeSent());
    EXPECT_TRUE(reply.ends_with(c.refusal)) << reply;
    EXPECT_EQ(r.Client(i).State(),
              c.refusal.empty() ? SocketState::kConnected : SocketState::kClosed);
    if (!c.refusal.empty()) {
      EXPECT_TRUE(r.events.back().starts_with("Socket (1): Destination Not Allowed: "));
    }
  }
}

}  // namespace
}  // namespace quorvel
