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

// A relay listening on the fake network. As its host it records every event as a line, relays
// frames and chunks like the headless host, then calls `hook`.
struct Rig : ProxyHost {
  Rig() { proxy.StartListen(3131); }
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
    return i;
  }

  void IncomingAIM(int i, Bytes& d) override { Note("IncomingAIM", i, 0, d); }
  void OutgoingAIM(int i, Bytes& d) override { Note("OutgoingAIM", i, 0, d); }
  void IncomingData(int i, std::uint16_t p, Bytes& d) override { Note("IncomingData", i, p, d); }
  void OutgoingData(int i, std::uint16_t p, Bytes& d) override { Note("OutgoingData", i, p, d); }
  void SocketEvent(int i, const std::string& text) override { Log(SocketEventLine(i, text)); }
  // Frames come with port 0.
  void Note(const std::string& name, int i, std::uint16_t port, Bytes& d) {
    const std::string line = name + " " + std::to_string(i) +
                             (port ? " port " + std::to_string(port) : "") + ": " + ToHex(d);
    if (name[0] == 'I') {
      port ? fwd.IncomingData(i, port, d) : fwd.IncomingAIM(i, d);
    } else {
      port ? fwd.OutgoingData(i, port, d) : fwd.OutgoingAIM(i, d);
    }
    Log(line);
  }
  void Log(const std::string& line) {
    events.push_back(line);
    if (hook) hook(line);
  }

  testing::FakeNetwork net;
  AIMProxy proxy{net, this};
  ForwardingHost fwd{proxy, nullptr};
  Lines events;
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
  EXPECT_FALSE(r.net.ClientConnects());
  r.hook = nullptr;
  r.proxy.StartListen(3131);
  r.proxy.AIMToServer(r.Relaying(), f);
  EXPECT_EQ(ToHex(r.Remote(1).TakeSent()), "2A 02 00 01 00 00");
}

TEST(Proxy, RequestIsTakenOnlyOnceCompleteWhereverItIsSplit) {
  const Bytes stream = Request(65535, "someone") + "GET /";
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    Rig r;
    r.net.ClientConnects();
    r.Local(1).Arrive(stream.substr(0, cut));
    r.Local(1).Arrive(stream.substr(cut));
    EXPECT_EQ(r.Remote(1).RemotePort(), 65535);
    r.Remote(1).CompleteConnect();
    EXPECT_EQ(ToHex(r.Local(1).TakeSent()), "04 5A FF FF C0 00 02 0A");
    // What was sent behind the request is relayed once the server connection stands.
    EXPECT_EQ(r.events, (Lines{"Socket (1): Connecting: 192.0.2.10",
                               "OutgoingData 1 port 65535: " + ToHex("GET /")}));
  }
}

TEST(Proxy, RequestsThatAreNotASocks4ConnectAreDropped) {
  Rig r;
  for (const Bytes& junk : {Hex("05 01 00"), Hex("04 02 14 46 C0 00 02 0A 00"),
                            Hex("04 01 14 46 C0 00 02 0A") + Bytes(2000, 'A')}) {
    r.net.ClientConnects();
    const SlotIndex i = r.proxy.UpperBound();
    r.Local(i).Arrive(junk);  // SOCKS5, BIND, a user id without end
    r.Local(i).Arrive(Request(80));
    EXPECT_EQ(r.Remote(i).RemotePort(), 80);
  }
}

TEST(Proxy, FramesSplitAtEveryByteComeOutWholeAndInOrderOnBothSides) {
  const Lines frames = {Frame(1, 10, 'a'), Frame(2, 0), Frame(3, 300, 'c'), Frame(4, 1, 'd')};
  const Bytes stream = frames[0] + frames[1] + frames[2] + frames[3];
  for (const bool server : {false, true}) {
    const std::string name = server ? "Incoming" : "Outgoing";
    Lines expected;
    for (const Bytes& f : frames) expected.push_back(name + "AIM 1: " + ToHex(f));
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
      SCOPED_TRACE(std::to_string(cut) + " from the " + (server ? "server" : "client"));
      Rig r;
      FakeSocket& source = server ? r.Remote(r.Relaying()) : r.Local(r.Relaying());
      source.Arrive(stream.substr(0, cut));
      source.Arrive(stream.substr(cut));
      EXPECT_EQ(r.events, expected);
      // Bytes that do not start a frame go out as one chunk, with everything behind them.
      source.Arrive("AB" + frames[0]);
      EXPECT_EQ(r.events.back(), name + "Data 1 port 5190: " + ToHex("AB" + frames[0]));
    }
  }
}

TEST(Proxy, BytesSentBeforeACloseReachTheOtherSideThenItCloses) {
  Rig r;
  r.Relaying();
  // Two whole frames and the start of a third are unread when the server closes.
  r.Remote(1).ArriveQuietly(Frame(9, 4) + Frame(9, 1) + Hex("2A 02 00 09 00 05 41"));
  r.Remote(1).PeerCloses();
  EXPECT_EQ(ToHex(r.Local(1).TakeSent()), ToHex(Frame(1, 4) + Frame(2, 1)));
  EXPECT_EQ(r.events.back(), "Socket (1): Remote Socket Closed");
  EXPECT_EQ(r.Local(1).State(), SocketState::kClosed);
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
      {Hex("2A 05 00 00 00 09 01 02"), "2A 05 00 04 00 02 01 02"},
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
  Bytes huge = Frame(0, 0) + Bytes(65536, 'x');
  r.proxy.ServerToAIM(j, huge);
  r.Remote(j).Vanish();
  r.proxy.SendSock(0, j, "lost");
  EXPECT_EQ(r.Local(j).sent, "");
  r.net.ClientConnects();  // slot 1 again
  r.Local(1).Arrive(Request(5190));
  r.Remote(1).FailConnect("Connection refused");
  r.net.listener->observer->OnAcceptError("Too many open files");
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
  // Handlers that let pending events run: more bytes arrive from the client meanwhile.
  Bytes nested = Request(80);
  r.hook = [&](const std::string&) {
    if (!nested.empty()) r.Local(1).Arrive(std::exchange(nested, Bytes()));
  };
  // A request arriving while the first is announced is relay traffic, not a second request.
  r.net.ClientConnects();
  r.Local(1).Arrive(Request(5190));
  r.Remote(1).CompleteConnect();
  EXPECT_EQ(r.Remote(1).RemotePort(), 5190);
  EXPECT_EQ(r.Remote(1).TakeSent(), Request(80));
  // Frames arriving while one is handled follow those that arrived before them.
  nested = Frame(0, 1, 'b') + Hex("2A 02");
  r.Local(1).Arrive(Frame(0, 1, 'a') + Frame(0, 1, 'c'));
  r.Local(1).Arrive(Hex("00 00 00 01 64"));
  EXPECT_EQ(ToHex(r.Remote(1).TakeSent()),
            ToHex(Frame(1, 1, 'a') + Frame(2, 1, 'c') + Frame(3, 1, 'b') + Frame(4, 1, 'd')));
}

}  // namespace
}  // namespace quorvel
