// AIMProxy driven through the scriptable fake network.

#include "proxy/aim_proxy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "fake_socket.h"
#include "proxy/forwarding_host.h"
#include "test_bytes.h"
#include "wire/error.h"

namespace quorvel {
namespace {

using testing::FakeNetwork;
using testing::FakeSocket;
using testing::Hex;
using testing::ToHex;

// Records every event; optionally forwards like the headless host; hooks run inside handlers.
class RecordingHost : public ProxyHost {
 public:
  explicit RecordingHost(ProxyControl& proxy) : proxy_(proxy) {}

  void IncomingAIM(SlotIndex index, Bytes& data) override {
    Record("IncomingAIM", index, data);
    if (on_frame) on_frame(index, data);
    if (forward) proxy_.ServerToAIM(index, data);
  }
  void OutgoingAIM(SlotIndex index, Bytes& data) override {
    Record("OutgoingAIM", index, data);
    if (on_frame) on_frame(index, data);
    if (forward) proxy_.AIMToServer(index, data);
  }
  void IncomingData(SlotIndex index, std::uint16_t port, Bytes& data) override {
    Record("IncomingData", index, data, port);
    if (on_data) on_data(index, data);
    if (forward) proxy_.SendSock(0, index, data);
  }
  void OutgoingData(SlotIndex index, std::uint16_t port, Bytes& data) override {
    Record("OutgoingData", index, data, port);
    if (on_data) on_data(index, data);
    if (forward) proxy_.SendSock(1, index, data);
  }
  void SocketEvent(SlotIndex index, const std::string& description) override {
    events.push_back(SocketEventLine(index, description));
    if (on_event) on_event(index, description);
  }

  std::vector<std::string> events;
  std::vector<Bytes> payloads;  // the data of every frame and chunk event, in order
  bool forward = false;
  std::function<void(SlotIndex, Bytes&)> on_frame;
  std::function<void(SlotIndex, Bytes&)> on_data;
  std::function<void(SlotIndex, const std::string&)> on_event;

 private:
  void Record(const char* name, SlotIndex index, BytesView data, int port = -1) {
    std::string line = std::string(name) + " " + std::to_string(index);
    if (port >= 0) line += " port " + std::to_string(port);
    events.push_back(line + ": " + ToHex(data));
    payloads.emplace_back(data);
  }
  ProxyControl& proxy_;
};

// 04 01, port, 192.0.2.10, user id "u", zero.
Bytes Request(std::uint16_t port, const std::string& userId = "u") {
  Bytes r = Hex("04 01");
  r += static_cast<char>(port >> 8);
  r += static_cast<char>(port & 0xFF);
  r += Hex("C0 00 02 0A");
  r += userId;
  r += '\0';
  return r;
}

// A FLAP frame on channel 2 with the given sequence number and `size` data bytes.
Bytes Frame(std::uint16_t seq, std::size_t size, char fill = 'x') {
  Bytes f = Hex("2A 02");
  f += static_cast<char>(seq >> 8);
  f += static_cast<char>(seq & 0xFF);
  f += static_cast<char>(size >> 8);
  f += static_cast<char>(size & 0xFF);
  f += Bytes(size, fill);
  return f;
}

class ProxyTest : public ::testing::Test {
 public:
  ProxyTest() { proxy.SetHost(&host); }

  FakeSocket& Local(SlotIndex i) { return static_cast<FakeSocket&>(proxy.LocalSocks(i)); }
  FakeSocket& Remote(SlotIndex i) { return static_cast<FakeSocket&>(proxy.RemoteSocks(i)); }

  // A client connected, its request for 192.0.2.10:port made, and the server connection standing;
  // the events and bytes of the handshake are cleared.
  SlotIndex Relaying(std::uint16_t port = 5190) {
    FakeSocket* client = net.ClientConnects();
    EXPECT_NE(client, nullptr);
    const SlotIndex i = SlotOf(client);
    client->Arrive(Request(port));
    Remote(i).CompleteConnect();
    client->TakeSent();
    Remote(i).TakeSent();
    host.events.clear();
    host.payloads.clear();
    return i;
  }

  SlotIndex SlotOf(const FakeSocket* s) {
    for (SlotIndex i = 1; i <= proxy.UpperBound(); ++i) {
      if (&proxy.LocalSocks(i) == s) return i;
    }
    return 0;
  }

  FakeNetwork net;
  AIMProxy proxy{net};
  RecordingHost host{proxy};
};

// ---- Listener and slots ---------------------------------------------------------------------

TEST_F(ProxyTest, ListensOnLoopbackUnlessToldOtherwise) {
  proxy.StartListen(3131);
  EXPECT_EQ(net.listener->address, "127.0.0.1");
  EXPECT_EQ(proxy.ListeningPort(), 3131);
  proxy.SetBindAddress("127.0.0.5");
  proxy.StartListen(4000);
  EXPECT_EQ(net.listener->address, "127.0.0.5");
  EXPECT_EQ(proxy.ListeningPort(), 4000);
  EXPECT_TRUE(host.events.empty());
}

TEST_F(ProxyTest, LowestFreeSlotIsTakenAndConnectionReportsIt) {
  proxy.StartListen(3131);
  EXPECT_EQ(proxy.UpperBound(), 0);
  FakeSocket* first = net.ClientConnects();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(SlotOf(first), 1);
  EXPECT_TRUE(proxy.SockInfos(1).AwaitingRequest);
  FakeSocket* second = net.ClientConnects();
  EXPECT_EQ(SlotOf(second), 2);
  EXPECT_EQ(proxy.UpperBound(), 2);

  // Connection is false for the listener's index and for slots that do not exist.
  EXPECT_FALSE(proxy.Connection(0));
  EXPECT_TRUE(proxy.Connection(1));
  EXPECT_TRUE(proxy.Connection(2));
  EXPECT_FALSE(proxy.Connection(3));
  EXPECT_FALSE(proxy.Connection(-1));

  first->PeerCloses();
  EXPECT_EQ(host.events, std::vector<std::string>{"Socket (1): Local Socket Closed"});
  EXPECT_FALSE(proxy.Connection(1));
  FakeSocket* third = net.ClientConnects();
  EXPECT_EQ(SlotOf(third), 1);
  EXPECT_EQ(proxy.UpperBound(), 2);
  EXPECT_NE(proxy.CreateSock(), 0);
}

TEST_F(ProxyTest, ReusedSlotContinuesItsCountersUntilStopListen) {
  proxy.StartListen(3131);
  SlotIndex i = Relaying();
  Bytes a = Frame(7, 1);
  proxy.AIMToServer(i, a);
  proxy.ServerToAIM(i, a);
  proxy.ServerToAIM(i, a);
  Local(i).PeerCloses();
  EXPECT_EQ(proxy.ServerSeq(1), 1);
  EXPECT_EQ(proxy.ClientSeq(1), 2);

  i = Relaying();
  ASSERT_EQ(i, 1);
  Bytes b = Frame(7, 1);
  proxy.AIMToServer(i, b);
  EXPECT_EQ(ToHex(Remote(i).TakeSent()), "2A 02 00 02 00 01 78");

  proxy.StopListen();
  EXPECT_EQ(proxy.UpperBound(), 0);
  EXPECT_EQ(proxy.ServerSeq(0), 0);
  proxy.StartListen(3131);
  i = Relaying();
  EXPECT_EQ(i, 1);
  EXPECT_EQ(proxy.ServerSeq(i), 0);
  EXPECT_EQ(proxy.ClientSeq(i), 0);
}

TEST_F(ProxyTest, StopListenClosesEverySocketSilently) {
  proxy.StartListen(3131);
  const SlotIndex a = Relaying();
  FakeSocket* waiting = net.ClientConnects();
  ASSERT_NE(waiting, nullptr);
  FakeSocket* aLocal = &Local(a);
  proxy.StopListen();
  EXPECT_TRUE(host.events.empty());
  EXPECT_FALSE(net.Alive(aLocal));
  EXPECT_FALSE(net.Alive(waiting));
  EXPECT_FALSE(net.listener->IsListening());
  EXPECT_EQ(net.ClientConnects(), nullptr);
  EXPECT_FALSE(proxy.Connection(1));
}

// ---- SOCKS4 request -------------------------------------------------------------------------

TEST_F(ProxyTest, RequestStartsTheServerConnectionAndGrantEchoesDestination) {
  proxy.StartListen(3131);
  FakeSocket* client = net.ClientConnects();
  client->Arrive(Hex("04 01 14 46 C0 00 02 0A 00"));
  EXPECT_EQ(host.events, std::vector<std::string>{"Socket (1): Connecting: 192.0.2.10"});
  const SockInfo& info = proxy.SockInfos(1);
  EXPECT_EQ(info.DestPort, 5190);
  EXPECT_EQ(info.DestHost, "192.0.2.10");
  EXPECT_EQ(ToHex(info.DestBytes), "14 46 C0 00 02 0A");
  EXPECT_FALSE(info.AwaitingRequest);
  EXPECT_EQ(Remote(1).connect_host, "192.0.2.10");
  EXPECT_EQ(Remote(1).connect_port, 5190);
  EXPECT_TRUE(client->sent.empty());

  Remote(1).CompleteConnect();
  EXPECT_EQ(ToHex(client->TakeSent()), "04 5A 14 46 C0 00 02 0A");
}

TEST_F(ProxyTest, RequestSplitAtEveryPositionIsTakenOnceWhole) {
  const Bytes request = Request(5190, "someone");
  const Bytes after = Frame(1, 3);
  const Bytes stream = request + after;
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    FakeNetwork n;
    AIMProxy p(n);
    RecordingHost h(p);
    p.SetHost(&h);
    p.StartListen(3131);
    FakeSocket* client = n.ClientConnects();
    client->Arrive(stream.substr(0, cut));
    client->Arrive(stream.substr(cut));
    auto& server = static_cast<FakeSocket&>(p.RemoteSocks(1));
    EXPECT_EQ(server.connects, 1);
    server.CompleteConnect();
    ASSERT_EQ(h.events.size(), 2u);
    EXPECT_EQ(h.events[0], "Socket (1): Connecting: 192.0.2.10");
    // No user-id byte leaks into the relay: the frame behind the request comes out whole.
    EXPECT_EQ(h.events[1], "OutgoingAIM 1: " + ToHex(after));
  }
}

TEST_F(ProxyTest, MalformedRequestsAreIgnoredOrWaitedFor) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool awaiting;  // still waiting for a request afterwards
    size_t unread;  // bytes left in the socket
  };
  const std::vector<Case> cases = {
      {"SOCKS5 greeting", Hex("05 01 00"), true, 0},
      {"BIND command", Hex("04 02 14 46 C0 00 02 0A 00"), true, 0},
      {"short request", Hex("04 01 14 46"), true, 4},
      {"no user-id terminator yet", Hex("04 01 14 46 C0 00 02 0A 41 42"), true, 10},
      {"user id that never ends", Hex("04 01 14 46 C0 00 02 0A") + Bytes(2000, 'A'), true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeNetwork n;
    AIMProxy p(n);
    RecordingHost h(p);
    p.SetHost(&h);
    p.StartListen(3131);
    FakeSocket* client = n.ClientConnects();
    client->Arrive(c.bytes);
    EXPECT_TRUE(h.events.empty());
    EXPECT_EQ(p.SockInfos(1).AwaitingRequest, c.awaiting);
    EXPECT_EQ(client->Unread().size(), c.unread);
    EXPECT_EQ(static_cast<FakeSocket&>(p.RemoteSocks(1)).connects, 0);
    // A proper request afterwards still works once the junk is gone.
    if (c.unread == 0) {
      client->Arrive(Request(80));
      EXPECT_EQ(h.events, std::vector<std::string>{"Socket (1): Connecting: 192.0.2.10"});
    }
  }
}

TEST_F(ProxyTest, PortsAboveSignedRangeConnectLikeAnyOther) {
  proxy.StartListen(3131);
  for (std::uint16_t port : {std::uint16_t{32768}, std::uint16_t{50000}, std::uint16_t{65535}}) {
    FakeSocket* client = net.ClientConnects();
    const SlotIndex i = SlotOf(client);
    client->Arrive(Request(port));
    EXPECT_EQ(proxy.SockInfos(i).DestPort, port);
    EXPECT_EQ(Remote(i).connect_port, port);
    Remote(i).CompleteConnect();
    client->TakeSent();
    host.payloads.clear();
    client->Arrive("hello");
    ASSERT_EQ(host.payloads.size(), 1u);
    EXPECT_EQ(host.payloads[0], "hello");
  }
}

TEST_F(ProxyTest, ServerConnectOutcomes) {
  proxy.StartListen(3131);
  // Refused later: one Socket Error, the client closed without any reply.
  FakeSocket* client = net.ClientConnects();
  client->Arrive(Request(5190));
  host.events.clear();
  Remote(1).FailConnect("Connection refused");
  EXPECT_EQ(host.events,
            std::vector<std::string>{"Socket (1): Socket Error: Connection refused (192.0.2.10)"});
  EXPECT_TRUE(client->sent.empty());
  EXPECT_EQ(client->State(), SocketState::kClosed);
  EXPECT_FALSE(proxy.Connection(1));

  // Refused at once: reported with the client-bytes prefix; the slot stays as it was left.
  client = net.ClientConnects();
  Remote(1).refuse_connect_now = "Insufficient resources";
  host.events.clear();
  client->Arrive(Request(5190));
  EXPECT_EQ(host.events,
            (std::vector<std::string>{"Socket (1): Connecting: 192.0.2.10",
                                      "Socket (1): Local Socket Failure: Insufficient resources"}));
  Remote(1).refuse_connect_now.clear();

  // The client leaves while the connect is under way: freed, no reply.
  client = net.ClientConnects();
  const SlotIndex i = SlotOf(client);
  client->Arrive(Request(5190));
  host.events.clear();
  client->PeerCloses();
  EXPECT_EQ(host.events,
            std::vector<std::string>{"Socket (" + std::to_string(i) + "): Local Socket Closed"});
  EXPECT_EQ(Remote(i).State(), SocketState::kClosed);
  EXPECT_TRUE(proxy.SockInfos(i).AwaitingRequest);
  EXPECT_TRUE(client->sent.empty());
}

TEST_F(ProxyTest, BytesSentBehindTheRequestAreRelayedAfterTheGrant) {
  proxy.StartListen(3131);
  host.forward = true;
  FakeSocket* client = net.ClientConnects();
  client->Arrive(Request(80) + "GET /");
  client->Arrive(" HTTP/1.0");
  EXPECT_TRUE(Remote(1).sent.empty());
  Remote(1).CompleteConnect();
  EXPECT_EQ(ToHex(client->TakeSent()), "04 5A 00 50 C0 00 02 0A");
  EXPECT_EQ(Remote(1).TakeSent(), "GET / HTTP/1.0");
}

// ---- Frame loop -----------------------------------------------------------------------------

class FrameLoopTest : public ProxyTest, public ::testing::WithParamInterface<bool> {
 protected:
  // The side under test: the client's bytes (false) or the server's (true).
  FakeSocket& Source(SlotIndex i) { return GetParam() ? Remote(i) : Local(i); }
  std::string FrameEvent(SlotIndex i) const {
    return std::string(GetParam() ? "IncomingAIM " : "OutgoingAIM ") + std::to_string(i);
  }
  std::string RawEvent(SlotIndex i) const {
    return std::string(GetParam() ? "IncomingData " : "OutgoingData ") + std::to_string(i);
  }
};

TEST_P(FrameLoopTest, FramesSplitAtEveryByteComeOutWholeAndInOrder) {
  const Bytes stream = Frame(1, 10, 'a') + Frame(2, 0) + Frame(3, 300, 'c') + Frame(4, 1, 'd');
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    FakeNetwork n;
    AIMProxy p(n);
    RecordingHost h(p);
    p.SetHost(&h);
    p.StartListen(3131);
    FakeSocket* client = n.ClientConnects();
    client->Arrive(Request(5190));
    auto& server = static_cast<FakeSocket&>(p.RemoteSocks(1));
    server.CompleteConnect();
    h.payloads.clear();
    FakeSocket& source = GetParam() ? server : *client;
    if (cut > 0) source.Arrive(stream.substr(0, cut));
    // A frame is raised only once all of its bytes are there.
    Bytes raised;
    for (const Bytes& f : h.payloads) raised += f;
    EXPECT_EQ(raised + source.Unread(), stream.substr(0, cut));
    if (cut < stream.size()) source.Arrive(stream.substr(cut));
    ASSERT_EQ(h.payloads.size(), 4u);
    EXPECT_EQ(h.payloads[0], Frame(1, 10, 'a'));
    EXPECT_EQ(h.payloads[1], Frame(2, 0));
    EXPECT_EQ(h.payloads[2], Frame(3, 300, 'c'));
    EXPECT_EQ(h.payloads[3], Frame(4, 1, 'd'));
    EXPECT_TRUE(source.Unread().empty());
  }
}

TEST_P(FrameLoopTest, PartialHeadersStrayBytesAndOtherPorts) {
  proxy.StartListen(3131);
  SlotIndex i = Relaying(5190);
  Source(i).Arrive(Hex("2A 02 00 01"));
  EXPECT_TRUE(host.events.empty());
  EXPECT_EQ(Source(i).Unread().size(), 4u);
  Source(i).Arrive(Hex("00 00"));
  EXPECT_EQ(host.events, std::vector<std::string>{FrameEvent(i) + ": 2A 02 00 01 00 00"});

  // Bytes that do not start a frame go out as one chunk with everything behind them.
  host.events.clear();
  const Bytes stray = Hex("41 42") + Frame(5, 2);
  Source(i).Arrive(stray);
  EXPECT_EQ(host.events, std::vector<std::string>{RawEvent(i) + " port 5190: " + ToHex(stray)});

  // Another port: every arrival is one chunk, whatever it holds.
  i = Relaying(443);
  const Bytes frames = Frame(1, 2) + Frame(2, 2);
  Source(i).Arrive(frames);
  Source(i).Arrive(Hex("2A"));
  EXPECT_EQ(host.events, (std::vector<std::string>{RawEvent(i) + " port 443: " + ToHex(frames),
                                                   RawEvent(i) + " port 443: 2A"}));
}

TEST_P(FrameLoopTest, BurstOfSmallFramesPeeksOnlyHeaders) {
  proxy.StartListen(3131);
  const SlotIndex i = Relaying(5190);
  Bytes burst;
  for (int k = 0; k < 2000; ++k) burst += Frame(static_cast<std::uint16_t>(k), 50);
  Source(i).peeked_bytes = 0;
  Source(i).Arrive(burst);
  EXPECT_EQ(host.payloads.size(), 2000u);
  EXPECT_LE(Source(i).peeked_bytes, 2001u * 6);
}

INSTANTIATE_TEST_SUITE_P(BothSides, FrameLoopTest, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Server" : "Client"; });

// ---- Closing --------------------------------------------------------------------------------

TEST_F(ProxyTest, ClosesAreReportedAndFreeTheSlot) {
  proxy.StartListen(3131);
  SlotIndex i = Relaying();
  Remote(i).PeerCloses();
  EXPECT_EQ(host.events, std::vector<std::string>{"Socket (1): Remote Socket Closed"});
  EXPECT_EQ(Local(i).State(), SocketState::kClosed);
  EXPECT_TRUE(proxy.SockInfos(i).AwaitingRequest);
  EXPECT_EQ(proxy.SockInfos(i).DestPort, 0);
  EXPECT_EQ(proxy.SockInfos(i).DestHost, "");
  EXPECT_EQ(ToHex(proxy.SockInfos(i).DestBytes), "14 46 C0 00 02 0A");  // kept

  // Server bytes on a slot whose client has already gone close it and relay nothing.
  i = Relaying();
  Local(i).Vanish();
  Remote(i).Arrive(Frame(1, 2));
  EXPECT_TRUE(host.events.empty());
  EXPECT_EQ(Remote(i).State(), SocketState::kClosed);
}

TEST_F(ProxyTest, BytesSentBeforeACloseReachTheOtherSideFirst) {
  proxy.StartListen(3131);
  host.forward = true;
  for (const bool serverCloses : {true, false}) {
    SCOPED_TRACE(serverCloses ? "server closes" : "client closes");
    const SlotIndex i = Relaying(5190);
    FakeSocket& closing = serverCloses ? Remote(i) : Local(i);
    FakeSocket& other = serverCloses ? Local(i) : Remote(i);
    // Two whole frames and the start of a third are unread when the peer closes.
    closing.ArriveQuietly(Frame(9, 4) + Frame(9, 1) + Hex("2A 02 00 09 00 05 41"));
    closing.PeerCloses();
    EXPECT_EQ(ToHex(other.TakeSent()), ToHex(Frame(1, 4) + Frame(2, 1)));
    EXPECT_EQ(host.events.back(), serverCloses ? "Socket (1): Remote Socket Closed"
                                               : "Socket (1): Local Socket Closed");
    EXPECT_EQ(other.State(), SocketState::kClosed);
    host.events.clear();
  }
}

// ---- Sending --------------------------------------------------------------------------------

TEST_F(ProxyTest, SendSockNeedsBothSides) {
  proxy.StartListen(3131);
  SlotIndex i = Relaying(443);
  proxy.SendSock(0, i, Hex("00 2A FF"));
  EXPECT_EQ(ToHex(Local(i).TakeSent()), "00 2A FF");
  proxy.SendSock(7, i, "abc");
  EXPECT_EQ(Remote(i).TakeSent(), "abc");

  Remote(i).Vanish();
  proxy.SendSock(1, i, "lost");
  EXPECT_EQ(host.events,
            std::vector<std::string>{"Socket (1): Connection was unexpectedly closed."});
  EXPECT_TRUE(Remote(i).sent.empty());
  EXPECT_EQ(Local(i).State(), SocketState::kClosed);
  EXPECT_THROW(proxy.SendSock(0, 5, "x"), Error);
}

TEST_F(ProxyTest, FramesAreRenumberedAndSized) {
  proxy.StartListen(3131);
  const SlotIndex i = Relaying();
  const SlotIndex j = Relaying();
  struct Case {
    const char* name;
    Bytes in;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"client numbering is replaced", Frame(0x1234, 2), "2A 02 00 01 00 02 78 78"},
      {"next number", Frame(0x1234, 2), "2A 02 00 02 00 02 78 78"},
      {"bare SNAC gets the template", Hex("00 02 00 04 00 00 00 00 00 04"),
       "2A 02 00 03 00 0A 00 02 00 04 00 00 00 00 00 04"},
      {"empty data", Bytes(), "2A 02 00 04 00 00"},
      {"length corrected, channel kept", Hex("2A 05 00 00 00 09 01 02"), "2A 05 00 05 00 02 01 02"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = c.in;
    proxy.AIMToServer(i, data);
    EXPECT_EQ(ToHex(Remote(i).TakeSent()), c.out);
    EXPECT_EQ(ToHex(data), c.out);  // the stamped frame is left with the caller
  }
  // The other direction and the other slot count on their own.
  Bytes f = Frame(0x5555, 0);
  proxy.ServerToAIM(i, f);
  EXPECT_EQ(ToHex(Local(i).TakeSent()), "2A 02 00 01 00 00");
  f = Frame(0x5555, 0);
  proxy.AIMToServer(j, f);
  EXPECT_EQ(ToHex(Remote(j).TakeSent()), "2A 02 00 01 00 00");
  EXPECT_TRUE(host.events.empty());
}

TEST_F(ProxyTest, SequenceWrapsFrom65534ToZero) {
  proxy.StartListen(3131);
  const SlotIndex i = Relaying();
  for (int k = 1; k <= 65534; ++k) {
    Bytes f;
    proxy.ServerToAIM(i, f);
  }
  EXPECT_EQ(proxy.ClientSeq(i), 65534);
  Bytes last = Local(i).TakeSent().substr(65533 * 6);
  EXPECT_EQ(ToHex(last), "2A 02 FF FE 00 00");
  Bytes f;
  proxy.ServerToAIM(i, f);
  EXPECT_EQ(ToHex(Local(i).TakeSent()), "2A 02 00 00 00 00");
  proxy.ServerToAIM(i, f);
  EXPECT_EQ(ToHex(Local(i).TakeSent()), "2A 02 00 01 00 00");
}

TEST_F(ProxyTest, UnframeableDataFailsWithoutSpendingASequenceNumber) {
  proxy.StartListen(3131);
  const SlotIndex i = Relaying();
  Bytes shortFrame = Hex("2A 02 00");
  proxy.AIMToServer(i, shortFrame);
  Bytes huge = Bytes(6 + 65536, 'x');
  huge[0] = '*';
  proxy.ServerToAIM(i, huge);
  ASSERT_EQ(host.events.size(), 2u);
  EXPECT_EQ(host.events[0].rfind("Socket (1): Local Send Failure: ", 0), 0u) << host.events[0];
  EXPECT_EQ(host.events[1].rfind("Socket (1): Server Send Failure: ", 0), 0u) << host.events[1];
  EXPECT_TRUE(Remote(i).sent.empty());
  EXPECT_TRUE(Local(i).sent.empty());
  Bytes ok = Frame(0, 0);
  proxy.AIMToServer(i, ok);
  EXPECT_EQ(ToHex(ok), "2A 02 00 01 00 00");
}

// ---- Failures -------------------------------------------------------------------------------

TEST_F(ProxyTest, EveryFailureIsReportedWithItsPrefix) {
  const auto boom = [](SlotIndex, Bytes&) { throw Error("boom"); };
  struct Case {
    const char* name;
    std::function<void(ProxyTest&)> act;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"listen", [](ProxyTest& t) { t.net.listen_failure = "Address already in use"; },
       "Socket (0): Start Listen Failure: Address already in use"},
      {"stop", [](ProxyTest& t) { t.net.listener->close_failure = "stuck"; },
       "Socket (0): Stop Listen Failure: stuck"},
      {"accept", [](ProxyTest& t) { t.net.AcceptFails("Too many open files"); },
       "Socket (0): Remote Socket Failure: Too many open files"},
      {"grant", [](ProxyTest& t) { t.Local(1).fail_send = "Broken pipe"; },
       "Socket (1): Remote Socket Failure: Broken pipe"},
      {"client bytes", [boom](ProxyTest& t) { t.host.on_frame = boom; },
       "Socket (1): Local Socket Failure: boom"},
      {"server bytes", [boom](ProxyTest& t) { t.host.on_frame = boom; },
       "Socket (1): Remote Socking Failure: boom"},
      {"client close", [boom](ProxyTest& t) { t.host.on_frame = boom; },
       "Socket (1): Local Socket Failure: boom"},
      {"to server", [](ProxyTest& t) { t.Remote(1).fail_send = "Broken pipe"; },
       "Socket (1): Local Send Failure: Broken pipe"},
      {"to client", [](ProxyTest& t) { t.Local(1).fail_send = "Broken pipe"; },
       "Socket (1): Server Send Failure: Broken pipe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    struct Fixture : ProxyTest {
      void TestBody() override {}
    };
    // Each case runs in a fresh fixture set up to a relaying 5190 slot, except listen.
    Fixture t;
    const std::string name = c.name;
    if (name == "listen") {
      c.act(t);
      t.proxy.StartListen(3131);
    } else if (name == "stop") {
      t.proxy.StartListen(3131);
      c.act(t);
      t.proxy.StopListen();
      t.net.listener->close_failure.clear();
    } else if (name == "accept") {
      t.proxy.StartListen(3131);
      c.act(t);
      EXPECT_NE(t.net.ClientConnects(), nullptr);  // the listener keeps accepting
    } else if (name == "grant") {
      t.proxy.StartListen(3131);
      t.net.ClientConnects()->Arrive(Request(5190));
      c.act(t);
      t.Remote(1).CompleteConnect();
    } else {
      t.proxy.StartListen(3131);
      t.Relaying(5190);
      c.act(t);
      Bytes frame = Frame(3, 1);
      if (name == "client bytes") t.Local(1).Arrive(frame);
      if (name == "server bytes") t.Remote(1).Arrive(frame);
      if (name == "client close") {
        t.Local(1).ArriveQuietly(frame);
        t.Local(1).PeerCloses();
      }
      if (name == "to server") t.proxy.AIMToServer(1, frame);
      if (name == "to client") t.proxy.ServerToAIM(1, frame);
    }
    EXPECT_NE(std::find(t.host.events.begin(), t.host.events.end(), c.expected),
              t.host.events.end())
        << ::testing::PrintToString(t.host.events);
  }
}

// ---- Re-entry -------------------------------------------------------------------------------

TEST_F(ProxyTest, NestedArrivalWaitsForTheRunningLoop) {
  proxy.StartListen(3131);
  const SlotIndex i = Relaying(5190);
  host.forward = true;
  int nested = 0;
  host.on_frame = [&](SlotIndex, Bytes&) {
    // A handler that lets pending events run: more bytes arrive on the same socket meanwhile.
    if (nested++ == 0) Local(i).Arrive(Frame(0, 1, 'b') + Hex("2A 02"));
  };
  Local(i).Arrive(Frame(0, 1, 'a') + Frame(0, 1, 'c'));
  Local(i).Arrive(Hex("00 00 00 01 64"));
  // Stream order is the order of arrival: a, c (first arrival), then b, then d.
  EXPECT_EQ(ToHex(Remote(i).TakeSent()),
            ToHex(Frame(1, 1, 'a') + Frame(2, 1, 'c') + Frame(3, 1, 'b') + Frame(4, 1, 'd')));
}

TEST_F(ProxyTest, NestedArrivalDuringConnectingIsNotTakenAsARequest) {
  proxy.StartListen(3131);
  host.forward = true;
  FakeSocket* client = net.ClientConnects();
  host.on_event = [&](SlotIndex, const std::string& text) {
    if (text.rfind("Connecting", 0) == 0) client->Arrive(Request(80));
  };
  client->Arrive(Request(5190));
  EXPECT_EQ(Remote(1).connects, 1);
  Remote(1).CompleteConnect();
  // The second request is relay traffic once the first is taken: stray bytes, one chunk.
  EXPECT_EQ(Remote(1).TakeSent(), Request(80));
}

TEST_F(ProxyTest, StopListenInsideAHandlerEndsTheRunQuietly) {
  proxy.StartListen(3131);
  const SlotIndex i = Relaying(5190);
  int frames = 0;
  host.on_frame = [&](SlotIndex, Bytes&) {
    ++frames;
    proxy.StopListen();
  };
  Local(i).Arrive(Frame(1, 1) + Frame(2, 1) + Frame(3, 1));
  EXPECT_EQ(frames, 1);
  EXPECT_EQ(proxy.UpperBound(), 0);
  EXPECT_TRUE(host.events.size() == 1);  // the one frame, no socket events
}

// ---- Flow control ---------------------------------------------------------------------------

TEST_F(ProxyTest, FastSideWaitsWhileTheSlowSideQueueIsFull) {
  proxy.StartListen(3131);
  const SlotIndex i = Relaying(443);
  host.forward = true;
  const Bytes chunk(AIMProxy::kPauseAbove / 4 + 1, 'z');
  Bytes expected;
  for (int k = 0; k < 6; ++k) {
    Bytes c = chunk;
    c[0] = static_cast<char>('0' + k);
    expected += c;
    Remote(i).Arrive(c);
  }
  // The first four chunks fill the client's queue past the mark; the rest stay unread.
  EXPECT_EQ(Local(i).sent.size(), 4 * chunk.size());
  EXPECT_EQ(Remote(i).Unread().size(), 2 * chunk.size());
  Local(i).Drain(2 * chunk.size());  // still above the resume mark
  EXPECT_EQ(Remote(i).Unread().size(), 2 * chunk.size());
  Local(i).Drain(Local(i).BytesPending());
  EXPECT_TRUE(Remote(i).Unread().empty());
  EXPECT_EQ(Local(i).TakeSent(), expected);
}

}  // namespace
}  // namespace quorvel
