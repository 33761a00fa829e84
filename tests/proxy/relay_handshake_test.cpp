// The relay's side of the SOCKS handshakes, against the fake network: every form of request, the
// replies that grant or refuse it, the request timeout, and whom a proxy open to other machines
// serves.

#include <gtest/gtest.h>

#include <string>

#include "proxy/relay.h"
#include "relay_rig.h"

namespace quorvel {
namespace {

const Bytes kGreeting = Hex("05 01 00");

TEST(RelayHandshake, EachFormConnectsWhereItAsksAndIsGrantedWhereverItIsSplit) {
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
      {"SOCKS5 IPv4", kGreeting + Hex("05 01 00 01 C0 00 02 0A 00 50") + "data", "192.0.2.10", 80,
       "05 00 05 00 00 01 7F 00 00 05 9C 40"},
      {"SOCKS5 domain", kGreeting + Hex("05 01 00 03 0B") + "example.org" + Hex("01 BB") + "data",
       "example.org", 443, "05 00 05 00 00 01 7F 00 00 05 9C 40"},
      {"SOCKS5 IPv6", kGreeting + Hex("05 01 00 04") + Bytes(15, '\0') + Hex("01 14 46") + "data",
       "::1", 5190, "05 00 05 00 00 01 7F 00 00 05 9C 40"},
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
// reply, whatever the stage, and closes.
TEST(RelayHandshake, RequestsNotServedAreAnsweredThenClosed) {
  const struct {
    const char* name;
    Bytes stream;
    std::string reply;
  } cases[] = {
      {"SOCKS4 BIND", Hex("04 02 14 46 C0 00 02 0A 00"), "00 5B 14 46 C0 00 02 0A"},
      {"SOCKS5 without no-authentication", Hex("05 02 01 02"), "05 FF"},
      {"SOCKS5 UDP ASSOCIATE", kGreeting + Hex("05 03 00 01 00 00 00 00 00 00"),
       "05 00 05 07 00 01 00 00 00 00 00 00"},
      {"another protocol", "GET / HTTP/1.0\r\n\r\n", ""},
  };
  Rig r;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    r.events.clear();
    const SlotIndex i = r.ClientConnects();
    ASSERT_EQ(i, 1);  // the slot before was freed
    r.Client(i).Arrive(c.stream);
    EXPECT_EQ(ToHex(r.Client(i).TakeSent()), c.reply);
    EXPECT_EQ(r.Client(i).State(), SocketState::kClosed);
    EXPECT_EQ(r.Server(i).State(), SocketState::kClosed);
    EXPECT_EQ(r.events, Lines{"Socket (1): Request Refused"});
  }
}

TEST(RelayHandshake, FailedConnectsAreAnsweredWithTheirCode) {
  const struct {
    const char* name;
    SocketFailure failure;
    std::string socks4;
    std::string socks5;
  } cases[] = {
      {"refused", SocketFailure::kRefused, "00 5B", "05 05"},
      {"host unreachable", SocketFailure::kHostUnreachable, "00 5B", "05 04"},
      {"network unreachable", SocketFailure::kNetworkUnreachable, "00 5B", "05 03"},
      {"timed out", SocketFailure::kTimedOut, "00 5B", "05 04"},
      {"anything else", SocketFailure::kOther, "00 5B", "05 01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.ClientConnects();
    r.Client(1).Arrive(Request(80));
    r.Server(1).FailConnect("it failed", c.failure);
    EXPECT_EQ(ToHex(r.Client(1).TakeSent()), c.socks4 + " 00 50 C0 00 02 0A");
    EXPECT_EQ(r.Client(1).State(), SocketState::kClosed);
    EXPECT_EQ(r.events.back(), "Socket (1): Socket Error: it failed (192.0.2.10)");
    r.ClientConnects();
    r.Client(1).Arrive(kGreeting + Hex("05 01 00 03 01") + "x" + Hex("00 50"));
    r.Server(1).FailConnect("it failed", c.failure);
    EXPECT_EQ(ToHex(r.Client(1).TakeSent()), "05 00 " + c.socks5 + " 00 01 00 00 00 00 00 00");
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
  r.events.clear();
  for (auto* timer : r.net.timers) {
    if (timer->Running()) {
      EXPECT_EQ(timer->ms, 1500);
    }
  }
  r.net.FireTimers();
  EXPECT_EQ(r.events, (Lines{"Socket (1): Request Timed Out", "Socket (2): Request Timed Out"}));
  EXPECT_EQ(r.Client(idle).State(), SocketState::kClosed);
  EXPECT_EQ(r.Client(slow).State(), SocketState::kClosed);
  EXPECT_EQ(ToHex(r.Client(slow).TakeSent()), "00 5B 00 50 C0 00 02 0A");
  EXPECT_EQ(r.Client(granted).State(), SocketState::kConnected);
}

TEST(RelayHandshake, AProxyOpenToOtherMachinesDoesNotLendThemThisOnesServices) {
  const Bytes toLoopback = Hex("04 01 00 50 7F 00 00 01 00");
  const Bytes toLinkLocal =
      kGreeting + Hex("05 01 00 04 FE 80") + Bytes(13, '\0') + Hex("01 00 50");
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
      {"link-local, from another machine", true, "192.0.2.77", toLinkLocal,
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
    EXPECT_EQ(reply.substr(reply.size() - std::min(reply.size(), c.refusal.size())), c.refusal);
    EXPECT_EQ(r.Client(i).State(),
              c.refusal.empty() ? SocketState::kConnected : SocketState::kClosed);
    if (!c.refusal.empty()) {
      EXPECT_TRUE(r.events.back().starts_with("Socket (1): Destination Not Allowed: "));
    }
  }
}

}  // namespace
}  // namespace quorvel
