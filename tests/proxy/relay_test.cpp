// The relay driven through the scriptable fake network: slots, framing, renumbering, the end of
// connections, failures, and memory held for slow readers. Half-closes in either order are shown
// over real sockets (tests/net).

#include "proxy/relay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "relay_rig.h"
#include "wire/error.h"

namespace quorvel {
namespace {

TEST(Relay, SlotsAreReusedLowestFirstAsNewConnectionsKeepingTheirFrameCountersUntilStopListening) {
  Rig r;
  EXPECT_EQ(r.net.listener->address, "127.0.0.1");
  EXPECT_EQ(r.Relaying(), 1);
  EXPECT_EQ(r.Relaying(), 2);
  const ConnectionId first = r.relay.ClientConnection(1);
  EXPECT_NE(r.relay.ClientConnection(2), first);
  Bytes f;
  r.relay.SendFrame(Toward::kServer, 1, f);
  // The client ends, then its server: the slot is free.
  r.Client(1).PeerCloses();
  EXPECT_TRUE(r.relay.IsClientConnected(1));
  r.Server(1).PeerCloses();
  for (SlotIndex i : {-1, 0, 1, 3}) {
    EXPECT_FALSE(r.relay.IsClientConnected(i)) << i;
    EXPECT_EQ(r.relay.ClientConnection(i), 0u) << i;
  }
  EXPECT_EQ(r.relay.ClientCount(), 1);
  EXPECT_EQ(r.Relaying(), 1);
  EXPECT_NE(r.relay.ClientConnection(1), first);
  r.relay.SendFrame(Toward::kServer, 1, f);
  EXPECT_EQ(ToHex(r.Server(1).TakeSent()), "2A 02 00 01 00 00 2A 02 00 02 00 00");
  // StopListening drops every slot quietly, even from inside the handler of a frame, a close or
  // an error; numbering then starts afresh.
  for (const char during : {'f', 'c', 'e'}) {
    SCOPED_TRACE(std::string(1, during));
    const SlotIndex i = r.Relaying();
    r.hook = [&](const std::string&) { r.relay.StopListening(); };
    if (during == 'f') r.Client(i).Arrive(Frame(1, 1) + Frame(2, 1));
    if (during == 'c') r.Client(i).PeerCloses();
    if (during == 'e') r.Server(i).Fail("Connection reset by peer");
    EXPECT_EQ(r.events.size(), 1u);  // the first frame, the close or the error; nothing after
    EXPECT_EQ(r.relay.HighestSlot(), 0);
    EXPECT_FALSE(r.net.ClientConnects());
    r.hook = nullptr;
    r.relay.StartListening(3131);
    r.relay.SendFrame(Toward::kServer, r.Relaying(), f);
    EXPECT_EQ(ToHex(r.Server(1).TakeSent()), "2A 02 00 01 00 00");
  }
}

TEST(Relay, FramesSplitAtEveryByteComeOutWholeAndInOrderOnBothSides) {
  const Lines frames = {Frame(1, 10, 'a'), Frame(2, 0), Frame(3, 300, 'c'), Frame(4, 1, 'd')};
  const Bytes stream = frames[0] + frames[1] + frames[2] + frames[3];
  for (const bool server : {false, true}) {
    const std::string from = server ? "Server" : "Client";
    Lines expected;
    for (const Bytes& f : frames) expected.push_back("FrameFrom" + from + " 1: " + ToHex(f));
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
      SCOPED_TRACE("from the " + from + ", split after " + std::to_string(cut) + " bytes");
      Rig r;
      FakeSocket& source = server ? r.Server(r.Relaying()) : r.Client(r.Relaying());
      source.Arrive(stream.substr(0, cut));
      source.Arrive(stream.substr(cut));
      EXPECT_EQ(r.events, expected);
      // Bytes that do not start a frame go out as one chunk, with everything behind them.
      source.Arrive("AB" + frames[0]);
      EXPECT_EQ(r.events.back(), "BytesFrom" + from + " 1 port 5190: " + ToHex("AB" + frames[0]));
      // Cut short by the close instead, whole frames go out as frames, the rest as it came.
      Rig closing;
      const SlotIndex i = closing.Relaying();
      FakeSocket& ending = server ? closing.Server(i) : closing.Client(i);
      FakeSocket& other = server ? closing.Client(i) : closing.Server(i);
      ending.ArriveQuietly(stream.substr(0, cut));
      ending.PeerCloses();
      const int whole = (cut >= 16) + (cut >= 22) + (cut >= 328) + (cut >= 335);
      EXPECT_EQ(std::ranges::count_if(closing.events, [](auto& e) { return e[0] == 'F'; }), whole);
      EXPECT_EQ(ToHex(other.TakeSent()), ToHex(stream.substr(0, cut)));
      EXPECT_TRUE(other.shutDown);
    }
  }
}

TEST(Relay, FramesTheHostLeavesPassRenumberedInOrderAroundTheOnesItSees) {
  for (const bool server : {false, true}) {
    SCOPED_TRACE(server ? "from the server" : "from the client");
    Rig r;
    r.wants = FrameInterest::Snacs({0x0102});
    const SlotIndex i = r.Relaying();
    FakeSocket& source = server ? r.Server(i) : r.Client(i);
    FakeSocket& sink = server ? r.Client(i) : r.Server(i);
    const Bytes seen = Hex("2A 05 77 77 00 04 00 01 00 02");  // SNAC key 0x0102, on any channel
    // Frames too short for a key or with another key pass; a partial frame waits; stray bytes go
    // out with everything behind them.
    source.Arrive(Frame(9, 3, 'a') + Frame(9, 0) + seen + Frame(9, 4, 'b') + Hex("2A 02 00"));
    source.Arrive(Hex("00 00 01 63"));
    source.Arrive("AB" + Frame(9, 1));
    EXPECT_EQ(ToHex(sink.TakeSent()),
              "2A 02 00 01 00 03 61 61 61 2A 02 00 02 00 00 2A 05 00 03 00 04 00 01 00 02 "
              "2A 02 00 04 00 04 62 62 62 62 2A 02 00 05 00 01 63 " +
                  ToHex("AB" + Frame(9, 1)));
    EXPECT_EQ(r.events, Lines{std::string("FrameFrom") + (server ? "Server" : "Client") +
                              " 1: " + ToHex(seen)});
  }
}

TEST(Relay, FramesAreRenumberedAndSizedPerSlotAndDirectionWrappingAfter65534) {
  Rig r;
  const SlotIndex i = r.Relaying(), j = r.Relaying();
  const struct {
    const char* name;
    Bytes in;
    std::string out;  // empty: refused without spending a number
  } cases[] = {
      {"the first frame is numbered 1", Frame(0x1234, 2), "2A 02 00 01 00 02 78 78"},
      {"a header cut short is refused", Hex("2A 02 00"), ""},
      {"a bare SNAC gets the template header", Hex("00 02 00 04 00 00 00 00 00 04"),
       "2A 02 00 02 00 0A 00 02 00 04 00 00 00 00 00 04"},
      {"a wrong length is corrected, the channel kept", Hex("2A 05 00 00 00 09 01 02"),
       "2A 05 00 03 00 02 01 02"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = c.in;
    r.relay.SendFrame(Toward::kServer, i, data);
    EXPECT_EQ(ToHex(r.Server(i).TakeSent()), c.out);
    EXPECT_EQ(ToHex(data), c.out.empty() ? ToHex(c.in) : c.out);  // the caller gets the frame
  }
  EXPECT_EQ(r.events,
            Lines{"Socket (1): Local Send Failure: Frame is shorter than its 6-byte header"});
  // The other direction and the other slot count on their own; the count wraps from 65534 to 0,
  // never sending FF FF.
  Bytes f;
  for (int k = 0; k < 65536; ++k) r.relay.SendFrame(Toward::kClient, i, f);
  EXPECT_EQ(ToHex(r.Client(i).TakeSent().substr(65533 * 6)),
            "2A 02 FF FE 00 00 2A 02 00 00 00 00 2A 02 00 01 00 00");
  r.relay.SendFrame(Toward::kServer, j, f);
  EXPECT_EQ(ToHex(r.Server(j).TakeSent()), "2A 02 00 01 00 00");
}

TEST(Relay, FailuresAreReportedWithTheirPrefix) {
  Rig r;
  const SlotIndex i = r.Relaying(), j = r.Relaying(443);
  r.hook = [](const std::string& line) {
    if (!line.starts_with("Socket (")) throw Error("boom");  // on every frame and chunk
  };
  r.Client(i).Arrive(Frame(3, 1));
  r.Server(i).Arrive(Frame(3, 1));
  r.Client(i).ArriveQuietly(Frame(3, 1));
  r.Client(i).PeerCloses();
  r.Server(i).PeerCloses();
  Bytes huge = Frame(0, 0) + Bytes(65536, 'x');
  r.relay.SendFrame(Toward::kClient, j, huge);
  r.Server(j).Vanish();
  r.relay.SendBytes(Toward::kClient, j, "lost");
  EXPECT_EQ(r.Client(j).sent, "");
  r.net.listener->observer->OnAcceptError("Too many open files");
  r.net.listener->failure = "Address already in use";
  r.relay.StopListening();
  r.relay.StartListening(1);
  r.net.listener->failure.clear();
  std::erase_if(r.events, [](const std::string& e) { return !e.starts_with("Socket ("); });
  EXPECT_EQ(
      r.events,
      (Lines{"Socket (1): Local Socket Failure: boom", "Socket (1): Remote Socking Failure: boom",
             "Socket (1): Local Socket Failure: boom", "Socket (1): Local Socket Closed",
             "Socket (2): Server Send Failure: Frame data of 65536 bytes exceeds 65535",
             "Socket (2): Connection was unexpectedly closed.",
             "Socket (0): Remote Socket Failure: Too many open files",
             "Socket (0): Stop Listen Failure: Address already in use",
             "Socket (0): Start Listen Failure: Address already in use"}));
}

TEST(Relay, ArrivalsDuringAHandlerWaitForItToFinish) {
  Rig r;
  // Handlers that let pending events run: more bytes arrive from the client meanwhile.
  Bytes nested = Request(80);
  r.hook = [&](const std::string&) {
    if (!nested.empty()) r.Client(1).Arrive(std::exchange(nested, Bytes()));
  };
  // A request arriving while the first is announced is relay traffic, not a second request.
  r.net.ClientConnects();
  r.Client(1).Arrive(Request(5190));
  r.Server(1).CompleteConnect();
  EXPECT_EQ(r.Server(1).RemotePort(), 5190);
  EXPECT_EQ(r.Server(1).TakeSent(), Request(80));
  // Frames arriving while one is handled follow those that arrived before them.
  nested = Frame(0, 1, 'b') + Hex("2A 02");
  r.Client(1).Arrive(Frame(0, 1, 'a') + Frame(0, 1, 'c'));
  r.Client(1).Arrive(Hex("00 00 00 01 64"));
  EXPECT_EQ(ToHex(r.Server(1).TakeSent()),
            ToHex(Frame(1, 1, 'a') + Frame(2, 1, 'c') + Frame(3, 1, 'b') + Frame(4, 1, 'd')));
}

TEST(Relay, AClientEndingRightBehindItsRequestHasItsEndPassedOnOnceConnected) {
  Rig r;
  r.ClientConnects();
  r.Client(1).Arrive(Request(80));
  r.Client(1).PeerCloses();
  r.Server(1).CompleteConnect();
  EXPECT_TRUE(r.Server(1).shutDown);
  r.Server(1).Arrive("reply");  // the other direction goes on
  EXPECT_EQ(ToHex(r.Client(1).TakeSent()), "00 5A 00 50 C0 00 02 0A " + ToHex("reply"));
}

TEST(Relay, QueuesAboveTheirLimitOrTheTotalCapPauseTheirFeedersUntilTheyDrain) {
  Rig r;
  const SlotIndex a = r.Relaying(80), b = r.Relaying(80), c = r.Relaying(80);
  for (SlotIndex k : {a, b, c}) r.Client(k).Drain(8);  // the grants
  // Under the cap, a queue pauses its feeder once it holds more than its own limit, and resumes
  // it once drained to the lower mark.
  r.Server(a).Arrive(Bytes(Relay::kPauseAbove, 'p'));
  r.Server(a).Arrive("1");
  r.Server(a).Arrive("2");
  EXPECT_EQ(r.Server(a).Unread(), "2");
  r.Client(a).Drain(Relay::kPauseAbove - Relay::kResumeBelow);
  EXPECT_EQ(r.Server(a).Unread(), "2");
  r.Client(a).Drain(2);
  EXPECT_EQ(r.Server(a).Unread(), "");
  r.Client(a).Drain(Relay::kResumeBelow);
  // Over the total cap, the feeders of the largest queues pause at once, and every queue is held
  // to the lower mark at its feeder's next send; small queues and the other direction carry on.
  r.relay.SetQueueCap(Relay::kPauseAbove);
  r.Server(a).Arrive(Bytes(Relay::kPauseAbove - Relay::kResumeBelow, 'q'));
  r.Server(b).Arrive(Bytes(Relay::kResumeBelow + 1, 'q'));
  EXPECT_GT(r.relay.QueuedBytes(), Relay::kPauseAbove);
  r.Server(a).Arrive("x");
  r.Server(b).Arrive("y");
  r.Server(c).Arrive("z");
  EXPECT_EQ(r.Server(a).Unread(), "x");
  EXPECT_EQ(r.Server(b).Unread(), "y");
  EXPECT_EQ(r.Client(c).TakeSent(), "z");
  r.Client(a).Arrive("up");
  EXPECT_EQ(r.Server(a).TakeSent(), "up");
  // As the readers catch up, the total falls and everything paused flows again.
  for (SlotIndex k : {a, b, c}) r.Client(k).Drain(Relay::kPauseAbove);
  EXPECT_EQ(r.Server(a).Unread(), "");
  EXPECT_EQ(r.Server(b).Unread(), "");
  EXPECT_EQ(r.Client(a).BytesPending(), 1u);  // "x"
  std::size_t pending = 0;                    // the total is the sum of every socket's queue
  for (SlotIndex k : {a, b, c}) pending += r.Client(k).BytesPending() + r.Server(k).BytesPending();
  EXPECT_EQ(r.relay.QueuedBytes(), pending);
}

}  // namespace
}  // namespace quorvel
