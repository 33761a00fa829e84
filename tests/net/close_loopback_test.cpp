// How connections through the relay end, over real loopback sockets: an end of sending passed on
// after every byte before it while the other direction goes on, a reset told as an error, and the
// memory held for readers that stopped reading bounded in total.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "relay_fixture.h"

namespace quorvel::testing {
namespace {

class CloseLoopbackTest : public RelayLoopbackTest {};

TEST_F(CloseLoopbackTest, RequestDataAndEndInOneGoAllReachTheServerAndItsAnswerComesBack) {
  for (const bool oscar : {false, true}) {
    SCOPED_TRACE(oscar ? "port 5190, a whole frame and a partial one" : "any other port");
    auto server = RawListen(oscar ? 5190 : 0);
    ASSERT_TRUE(server);
    const QByteArray data =
        oscar ? QByteArray("\x2A\x02\x44\x44\x00\x01x\x2A\x02\x00", 10) : QByteArray("GET /");
    // As `printf ... | nc -N` does: everything sent, then the end of sending, before the relay has
    // even connected.
    RawSocket client = RawSocket::To(relay_.ListeningPort());
    client.Send(Socks4Request(server->Host(), server->Port()) + data);
    client.EndSending();
    RawSocket up = server->Accept();
    const QByteArray got = up.Read();
    EXPECT_TRUE(up.Ended());
    EXPECT_EQ(got.size(), data.size());
    EXPECT_EQ(got.mid(4), data.mid(4));  // the frame renumbered, the rest as it came
    up.Send("the answer");
    up.EndSending();
    EXPECT_EQ(client.Read().mid(8), "the answer");
    EXPECT_TRUE(client.Ended());
  }
}

TEST_F(CloseLoopbackTest, EitherSideMayEndFirstRightAfterItsLastByteAndStillReceive) {
  for (const bool oscar : {false, true}) {
    for (const bool serverFirst : {false, true}) {
      SCOPED_TRACE(std::string(oscar ? "framed" : "unframed") +
                   (serverFirst ? ", the server ends first" : ", the client ends first"));
      auto server = RawListen(oscar ? 5190 : 0);
      ASSERT_TRUE(server);
      auto [client, up] = Connected(*server);
      RawSocket& first = serverFirst ? up : client;
      RawSocket& second = serverFirst ? client : up;
      // A single byte, on 5190 the start of a frame that never ends, then the end of sending.
      first.Send(oscar ? "\x2A" : "1");
      first.EndSending();
      EXPECT_EQ(second.Read(), oscar ? "\x2A" : "1");
      EXPECT_TRUE(second.Ended());
      // The other direction still carries data, in bulk, until its own end.
      const QByteArray bulk(3 << 20, 'b');
      second.Send(bulk);
      second.EndSending();
      EXPECT_TRUE(first.Read(0, 10000) == bulk);
      EXPECT_TRUE(first.Ended());
    }
  }
}

TEST_F(CloseLoopbackTest, AResetOfAnEstablishedConnectionIsLoggedAsAnError) {
  RawListener server;
  auto [client, up] = Connected(server);
  up.Reset();
  EXPECT_TRUE(HasEvent("Socket (1): Socket Error: Connection reset by peer (127.0.0.1)"));
  EXPECT_EQ(EventsStartingWith("Socket (1): Remote Socket Closed").size(), 0u);
  EXPECT_EQ(client.Read(), "");
  EXPECT_TRUE(client.Ended());
}

TEST_F(CloseLoopbackTest, ServersOfReadersThatStoppedAreHeldBackAndTheQueuedTotalIsCapped) {
  constexpr std::size_t kCap = 2 << 20;
  constexpr int kConnections = 8;
  relay_.SetQueueCap(kCap);
  auto server = Listen();
  std::vector<RawSocket> clients;
  std::vector<QTcpSocket*> ups;
  for (int k = 0; k < kConnections; ++k) {
    clients.push_back(RawSocket::To(relay_.ListeningPort(), "127.0.0.1", 4096));
    clients.back().Send(Socks4Request(*server));
    EXPECT_EQ(clients.back().Read(8).size(), 8);
    ups.push_back(Accept(*server));
    ASSERT_TRUE(ups.back());
  }
  // More than the kernel takes in for readers that read nothing, then the servers' end.
  const QByteArray chunk(12 << 20, 'q');
  for (QTcpSocket* up : ups) {
    up->write(chunk);
    up->disconnectFromHost();
  }
  std::size_t peak = 0;
  Until(
      [&] {
        peak = std::max(peak, relay_.QueuedBytes());
        return false;
      },
      2000);
  // The queues fill up to the cap; beyond it, each keeps at most what a queue may keep over the
  // cap, and one arrival more. The servers are held back meanwhile.
  EXPECT_GE(peak, kCap / 2);
  EXPECT_LE(peak, kCap + kConnections * (Relay::kResumeBelow + QtSocketFactory::kReadBufferSize));
  qint64 heldBack = 0;
  for (QTcpSocket* up : ups) heldBack += up->bytesToWrite();
  EXPECT_GT(heldBack, 0);
  // Readers that read again get every byte, then the end.
  for (auto& c : clients) {
    EXPECT_TRUE(c.Read(0, 10000) == chunk);
    EXPECT_TRUE(c.Ended());
  }
}

}  // namespace
}  // namespace quorvel::testing
