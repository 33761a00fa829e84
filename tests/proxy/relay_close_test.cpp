// How the relay ends connections, against the fake network: each side's end passed on after
// every byte before it, the other direction going on; failures told as failures; and memory held
// for slow readers bounded in total.

#include <gtest/gtest.h>

#include <string>

#include "proxy/relay.h"
#include "relay_rig.h"

namespace quorvel {
namespace {

TEST(RelayClose, ARequestWithDataAndItsEndInOneGoReachTheServerWholeOnceItIsConnected) {
  for (const int port : {80, 5190}) {
    SCOPED_TRACE(port);
    Rig r;
    const SlotIndex i = r.ClientConnects();
    // As `printf ... | nc -N` sends: the request, data (a whole frame and a partial one on 5190),
    // and the end of sending, all before the server connection stands.
    const Bytes data = port == 5190 ? Frame(7, 3) + Hex("2A 02 00") : Bytes("hello");
    r.Client(i).ArriveQuietly(Request(port) + data);
    r.Client(i).PeerCloses();
    EXPECT_EQ(r.Server(i).State(), SocketState::kConnecting);
    r.Server(i).CompleteConnect();
    EXPECT_EQ(ToHex(r.Client(i).TakeSent()).substr(0, 5), "00 5A");
    EXPECT_EQ(ToHex(r.Server(i).TakeSent()),
              ToHex(port == 5190 ? Frame(1, 3) + Hex("2A 02 00") : data));
    EXPECT_TRUE(r.Server(i).shutDown);
    EXPECT_FALSE(r.Client(i).shutDown);
    EXPECT_EQ(r.RelayEvents(),
              (Lines{"Socket (1): Connecting: 192.0.2.10", "Socket (1): Local Socket Closed"}));
  }
}

TEST(RelayClose, EitherSideEndingLeavesTheOtherDirectionOpenUntilItEndsToo) {
  for (const bool serverFirst : {false, true}) {
    SCOPED_TRACE(serverFirst ? "the server ends first" : "the client ends first");
    Rig r;
    const SlotIndex i = r.Relaying(80);
    FakeSocket& first = serverFirst ? r.Server(i) : r.Client(i);
    FakeSocket& second = serverFirst ? r.Client(i) : r.Server(i);
    first.ArriveQuietly("last words");
    first.PeerCloses();
    EXPECT_EQ(second.TakeSent(), "last words");
    EXPECT_TRUE(second.shutDown);
    EXPECT_FALSE(first.shutDown);
    EXPECT_TRUE(r.relay.IsClientConnected(i));
    second.Arrive("reply");
    EXPECT_EQ(first.TakeSent(), "reply");
    second.PeerCloses();
    EXPECT_EQ(first.State(), SocketState::kClosed);
    EXPECT_EQ(r.RelayEvents(), Lines{serverFirst ? "Socket (1): Remote Socket Closed"
                                                 : "Socket (1): Local Socket Closed"});
    EXPECT_FALSE(r.relay.IsClientConnected(i));
  }
}

TEST(RelayClose, AHandlerThatStopsTheRelayOnACloseOrAnErrorLeavesNothingHalfDone) {
  for (const bool error : {false, true}) {
    SCOPED_TRACE(error ? "an error" : "a close");
    Rig r;
    r.Relaying(80);
    r.hook = [&](const std::string& line) {
      if (line.find("Closed") != std::string::npos || line.find("Error") != std::string::npos) {
        r.relay.StopListening();
      }
    };
    if (error) {
      r.Server(1).Fail("Connection reset by peer");
    } else {
      r.Client(1).PeerCloses();
    }
    EXPECT_EQ(r.RelayEvents().size(), 1u);  // the close or the error, and no failure after it
    EXPECT_EQ(r.relay.HighestSlot(), 0);
  }
}

TEST(RelayClose, APartialFrameAtTheCloseGoesOutAsItIs) {
  // Every way a stream of frames can be cut short by the close.
  const Bytes stream = Frame(5, 4) + Frame(6, 1);
  for (const bool server : {false, true}) {
    for (std::size_t end = 1; end <= stream.size(); ++end) {
      SCOPED_TRACE((server ? "server, " : "client, ") + std::to_string(end) + " bytes");
      Rig r;
      const SlotIndex i = r.Relaying(5190);
      FakeSocket& from = server ? r.Server(i) : r.Client(i);
      FakeSocket& to = server ? r.Client(i) : r.Server(i);
      from.ArriveQuietly(stream.substr(0, end));
      from.PeerCloses();
      // Whole frames renumbered, the rest as it came.
      Bytes expected = stream.substr(0, end);
      if (end >= 10) expected.replace(2, 2, Hex("00 01"));
      if (end == stream.size()) expected.replace(12, 2, Hex("00 02"));
      EXPECT_EQ(ToHex(to.TakeSent()), ToHex(expected));
      EXPECT_TRUE(to.shutDown);
    }
  }
}

TEST(RelayClose, AResetOfAnEstablishedConnectionIsToldAsAnErrorAndClosesTheOtherSide) {
  for (const bool server : {false, true}) {
    Rig r;
    const SlotIndex i = r.Relaying(80);
    (server ? r.Server(i) : r.Client(i)).Fail("Connection reset by peer");
    EXPECT_EQ(r.events, Lines{"Socket (1): Socket Error: Connection reset by peer (" +
                              std::string(server ? "192.0.2.10" : "127.0.0.1") + ")"});
    EXPECT_EQ((server ? r.Client(i) : r.Server(i)).State(), SocketState::kClosed);
  }
}

TEST(RelayClose, QueuesAboveTheirLimitOrTheTotalCapPauseTheirFeedersUntilTheyDrain) {
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
  const auto pending = [&] {
    std::size_t sum = 0;
    for (SlotIndex k : {a, b, c}) sum += r.Client(k).BytesPending() + r.Server(k).BytesPending();
    return sum;
  };
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
  EXPECT_EQ(r.relay.QueuedBytes(), pending());
}

}  // namespace
}  // namespace quorvel
