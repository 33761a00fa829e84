// AIMProxy driven through the scriptable fake network.

#include "proxy/aim_proxy.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fake_socket.h"
#include "proxy/forwarding_host.h"
#include "test_bytes.h"
#include "wire/error.h"
#include "wire/word.h"

namespace quorvel {
namespace {

using testing::FakeNetwork;
using testing::FakeSocket;
using testing::Hex;
using testing::ToHex;
using Lines = std::vector<std::string>;

// A SOCKS4 CONNECT for 192.0.2.10:port.
Bytes Request(int port, const std::string& userId = "u") {
  return Hex("04 01") + IntToWord(port) + Hex("C0 00 02 0A") + userId + '\0';
}
Bytes Frame(int seq, std::size_t size, char fill = 'x') {
  return Hex("2A 02") + IntToWord(seq) + WordLenString(Bytes(size, fill));
}

// A relay listening on the fake network. As its host it records every event as a line and the
// data of every frame and chunk, relays them like the headless host, then calls `hook`.
struct Rig : ProxyHost {
  Rig() {
    proxy.SetHost(this);
    proxy.StartListen(3131);
  }
  FakeSocket& Local(SlotIndex i) { return static_cast<FakeSocket&>(proxy.LocalSocks(i)); }
  FakeSocket& Remote(SlotIndex i) { return static_cast<FakeSocket&>(proxy.RemoteSocks(i)); }
  // A new client with its server connection standing; events and bytes so far are cleared.
  SlotIndex Relaying(int port = 5190) {
    const SlotIndex i = proxy.CreateSock();  // where the next client goes
    net.ClientConnects();
    Local(i).Arrive(Request(port));
    Remote(i).CompleteConnect();
    Local(i).TakeSent();
    events.clear();
    payloads.clear();
    return i;
  }

  void Note(const std::string& name, BytesView data, const std::function<void()>& relay) {
    payloads.emplace_back(data);
    const std::string line = name + ": " + ToHex(data);
    relay();
    Log(line);
  }
  void Log(const std::string& line) {
    events.push_back(line);
    if (hook) hook(line);
  }
  void IncomingAIM(SlotIndex i, Bytes& d) override {
    Note("IncomingAIM " + std::to_string(i), d, [&] { fwd.IncomingAIM(i, d); });
  }
  void OutgoingAIM(SlotIndex i, Bytes& d) override {
    Note("OutgoingAIM " + std::to_string(i), d, [&] { fwd.OutgoingAIM(i, d); });
  }
  void IncomingData(SlotIndex i, std::uint16_t port, Bytes& d) override {
    Note("IncomingData " + std::to_string(i) + " port " + std::to_string(port), d,
         [&] { fwd.IncomingData(i, port, d); });
  }
  void OutgoingData(SlotIndex i, std::uint16_t port, Bytes& d) override {
    Note("OutgoingData " + std::to_string(i) + " port " + std::to_string(port), d,
         [&] { fwd.OutgoingData(i, port, d); });
  }
  void SocketEvent(SlotIndex i, const std::string& text) override { Log(SocketEventLine(i, text)); }

  FakeNetwork net;
  AIMProxy proxy{net};
  ForwardingHost fwd{proxy, nullptr};
  Lines events, payloads;
  std::function<void(const std::string&)> hook;
};

TEST(Proxy, SlotsAreReusedLowestFirstKeepingTheirCountersUntilStopListen) {
  Rig r;
  EXPECT_EQ(r.net.listener->address, "127.0.0.1");
  EXPECT_EQ(r.Relaying(), 1);
  EXPECT_EQ(r.Relaying(), 2);
  Bytes f;
  r.proxy.AIMToServer(1, f);
  r.Local(1).PeerCloses();
  EXPECT_EQ(r.events, Lines{"Socket (1): Local Socket Closed"});
  for (SlotIndex i : {-1, 0, 1, 3}) EXPECT_FALSE(r.proxy.Connection(i)) << i;
  EXPECT_EQ(r.Relaying(), 1);
  EXPECT_EQ(r.proxy.UpperBound(), 2);
  r.proxy.AIMToServer(1, f);
  EXPECT_EQ(ToHex(r.Remote(1).TakeSent()), "2A 02 00 01 00 00 2A 02 00 02 00 00");

  // StopListen discards every slot without an event, even from inside a handler; numbering then
  // starts afresh.
  r.events.clear();
  r.hook = [&](const std::string&) { r.proxy.StopListen(); };
  r.Local(2).Arrive(Frame(1, 1) + Frame(2, 1));
  EXPECT_EQ(r.events, Lines{"OutgoingAIM 2: " + ToHex(Frame(1, 1))});
  EXPECT_EQ(r.proxy.UpperBound(), 0);
  EXPECT_FALSE(r.net.ClientConnects());
  r.hook = nullptr;
  r.proxy.StartListen(3131);
  r.proxy.AIMToServer(r.Relaying(), f);
  EXPECT_EQ(ToHex(r.Remote(1).TakeSent()), "2A 02 00 01 00 00");
}

TEST(Proxy, RequestIsTakenOnlyOnceCompleteWhereverItIsSplit) {
  const Bytes stream = Request(5190, "someone") + Frame(1, 3);
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    Rig r;
    r.net.ClientConnects();
    r.Local(1).Arrive(stream.substr(0, cut));
    r.Local(1).Arrive(stream.substr(cut));
    r.Remote(1).CompleteConnect();
    EXPECT_EQ(ToHex(r.Local(1).TakeSent()), "04 5A 14 46 C0 00 02 0A");
    // The frame sent behind the request is relayed once the server connection stands.
    EXPECT_EQ(r.events, (Lines{"Socket (1): Connecting: 192.0.2.10",
                               "OutgoingAIM 1: " + ToHex(Frame(1, 3))}));
  }
}

TEST(Proxy, RequestsReachTheirDestinationOnAnyPortAndJunkIsDropped) {
  Rig r;
  for (const int port : {80, 32768, 65535}) {
    const SlotIndex i = r.Relaying(port);
    EXPECT_EQ(r.Remote(i).RemotePort(), port);
    r.Local(i).Arrive("hi");
    EXPECT_EQ(r.events, Lines{"OutgoingData " + std::to_string(i) + " port " +
                              std::to_string(port) + ": 68 69"});
  }
  for (const Bytes& junk : {Hex("05 01 00"), Hex("04 02 14 46 C0 00 02 0A 00"),
                            Hex("04 01 14 46 C0 00 02 0A") + Bytes(2000, 'A')}) {
    r.net.ClientConnects();
    const SlotIndex i = r.proxy.UpperBound();
    r.Local(i).Arrive(junk);  // not a SOCKS4 CONNECT, or a user id without end
    r.Local(i).Arrive(Request(80));
    EXPECT_EQ(r.Remote(i).RemotePort(), 80);
  }
}

TEST(Proxy, FramesSplitAtEveryByteComeOutWholeAndInOrderOnBothSides) {
  const Lines frames = {Frame(1, 10, 'a'), Frame(2, 0), Frame(3, 300, 'c'), Frame(4, 1, 'd')};
  const Bytes stream = frames[0] + frames[1] + frames[2] + frames[3];
  for (const bool server : {false, true}) {
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
      SCOPED_TRACE(std::to_string(cut) + (server ? " from the server" : " from the client"));
      Rig r;
      FakeSocket& source = server ? r.Remote(r.Relaying()) : r.Local(r.Relaying());
      source.Arrive(stream.substr(0, cut));
      source.Arrive(stream.substr(cut));
      EXPECT_EQ(r.payloads, frames);
      EXPECT_EQ(r.events[0].substr(0, 11), server ? "IncomingAIM" : "OutgoingAIM");
      // Bytes that do not start a frame go out as one chunk, with everything behind them.
      source.Arrive("AB" + frames[0]);
      EXPECT_EQ(r.events.back(), (server ? "IncomingData" : "OutgoingData") +
                                     std::string(" 1 port 5190: ") + ToHex("AB" + frames[0]));
    }
  }
}

TEST(Proxy, BytesSentBeforeACloseReachTheOtherSideThenItCloses) {
  for (const bool server : {true, false}) {
    Rig r;
    const SlotIndex i = r.Relaying();
    FakeSocket& closing = server ? r.Remote(i) : r.Local(i);
    FakeSocket& other = server ? r.Local(i) : r.Remote(i);
    // Two whole frames and the start of a third are unread when the peer closes.
    closing.ArriveQuietly(Frame(9, 4) + Frame(9, 1) + Hex("2A 02 00 09 00 05 41"));
    closing.PeerCloses();
    EXPECT_EQ(ToHex(other.TakeSent()), ToHex(Frame(1, 4) + Frame(2, 1)));
    EXPECT_EQ(r.events.back(),
              server ? "Socket (1): Remote Socket Closed" : "Socket (1): Local Socket Closed");
    EXPECT_EQ(other.State(), SocketState::kClosed);
  }
}

TEST(Proxy, FramesAreRenumberedAndSizedPerSlotAndDirectionWrappingAfter65534) {
  Rig r;
  const SlotIndex i = r.Relaying(), j = r.Relaying();
  const struct {
    Bytes in;
    std::string out;  // empty: refused without spending a number
  } cases[] = {
      {Frame(0x1234, 2), "2A 02 00 01 00 02 78 78"},
      {Frame(0x1234, 2), "2A 02 00 02 00 02 78 78"},
      {Hex("2A 02 00"), ""},
      {Hex("00 02 00 04 00 00 00 00 00 04"), "2A 02 00 03 00 0A 00 02 00 04 00 00 00 00 00 04"},
      {Bytes(), "2A 02 00 04 00 00"},
      {Hex("2A 05 00 00 00 09 01 02"), "2A 05 00 05 00 02 01 02"},
  };
  for (const auto& c : cases) {
    Bytes data = c.in;
    r.proxy.AIMToServer(i, data);
    EXPECT_EQ(ToHex(r.Remote(i).TakeSent()), c.out);
    EXPECT_EQ(ToHex(data), c.out.empty() ? ToHex(c.in) : c.out);  // the caller gets the frame
  }
  EXPECT_EQ(r.events,
            Lines{"Socket (1): Local Send Failure: Frame is shorter than its 6-byte header"});
  // The other direction and the other slot count on their own; the count wraps from 65534 to 0,
  // never sending FF FF.
  Bytes f;
  for (int k = 0; k < 65536; ++k) r.proxy.ServerToAIM(i, f);
  EXPECT_EQ(ToHex(r.Local(i).TakeSent().substr(65533 * 6)),
            "2A 02 FF FE 00 00 2A 02 00 00 00 00 2A 02 00 01 00 00");
  r.proxy.AIMToServer(j, f);
  EXPECT_EQ(ToHex(r.Remote(j).TakeSent()), "2A 02 00 01 00 00");
}

TEST(Proxy, FailuresAreReportedWithTheirPrefix) {
  Rig r;
  const SlotIndex i = r.Relaying(), j = r.Relaying(443);
  r.hook = [](const std::string& line) {
    if (line.rfind("Socket (", 0) != 0) throw Error("boom");  // on every frame and chunk
  };
  r.Local(i).Arrive(Frame(3, 1));
  r.Remote(i).Arrive(Frame(3, 1));
  r.Local(i).ArriveQuietly(Frame(3, 1));
  r.Local(i).PeerCloses();
  r.hook = nullptr;
  Bytes huge = Frame(0, 0) + Bytes(65536, 'x');
  r.proxy.ServerToAIM(j, huge);
  r.Remote(j).Vanish();
  r.proxy.SendSock(0, j, "lost");
  EXPECT_EQ(r.Local(j).sent, "");
  r.net.ClientConnects();  // slot 1 again
  r.Local(1).Arrive(Request(5190));
  r.Remote(1).FailConnect("Connection refused");
  r.net.AcceptFails("Too many open files");
  r.net.listener->failure = "Address already in use";
  r.proxy.StopListen();
  r.proxy.StartListen(1);
  r.net.listener->failure.clear();
  std::erase_if(r.events, [](const std::string& e) { return e.rfind("Socket (", 0) != 0; });
  EXPECT_EQ(
      r.events,
      (Lines{"Socket (1): Local Socket Failure: boom", "Socket (1): Remote Socking Failure: boom",
             "Socket (1): Local Socket Failure: boom",
             "Socket (2): Server Send Failure: Frame data of 65536 bytes exceeds 65535",
             "Socket (2): Connection was unexpectedly closed.",
             "Socket (1): Connecting: 192.0.2.10",
             "Socket (1): Socket Error: Connection refused (192.0.2.10)",
             "Socket (0): Remote Socket Failure: Too many open files",
             "Socket (0): Stop Listen Failure: Address already in use",
             "Socket (0): Start Listen Failure: Address already in use"}));
}

TEST(Proxy, ArrivalsDuringAHandlerWaitForItToFinish) {
  Rig r;
  // A request arriving while the first is announced is relay traffic, not a second request.
  r.hook = [&](const std::string& line) {
    if (line.find("Connecting") != std::string::npos) r.Local(1).Arrive(Request(80));
  };
  r.net.ClientConnects();
  r.Local(1).Arrive(Request(5190));
  r.Remote(1).CompleteConnect();
  EXPECT_EQ(r.Remote(1).RemotePort(), 5190);
  EXPECT_EQ(r.Remote(1).TakeSent(), Request(80));

  // A handler that lets pending events run: more bytes arrive on the same socket meanwhile.
  bool nested = false;
  r.hook = [&](const std::string&) {
    if (!std::exchange(nested, true)) r.Local(1).Arrive(Frame(0, 1, 'b') + Hex("2A 02"));
  };
  r.Local(1).Arrive(Frame(0, 1, 'a') + Frame(0, 1, 'c'));
  r.Local(1).Arrive(Hex("00 00 00 01 64"));
  EXPECT_EQ(ToHex(r.Remote(1).TakeSent()),
            ToHex(Frame(1, 1, 'a') + Frame(2, 1, 'c') + Frame(3, 1, 'b') + Frame(4, 1, 'd')));
}

}  // namespace
}  // namespace quorvel
