// How connections through the relay end, over real loopback sockets: an end of sending passed on
// after every byte before it while the other direction goes on, nothing lost at the close, and
// the memory held for readers that stopped reading bounded in total.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "relay_fixture.h"

namespace quorvel::testing {
namespace {

QByteArray Frame(int seq, int size, char fill = 'x') {
  return QByteArray::fromStdString("\x2A\x02" + IntToWord(seq) +
                                   WordLenString(Bytes(static_cast<std::size_t>(size), fill)));
}

class CloseLoopbackTest : public RelayLoopbackTest {};

TEST_F(CloseLoopbackTest, RequestDataAndEndInOneGoAllReachTheServerAndItsAnswerComesBack) {
  for (const bool oscar : {false, true}) {
    SCOPED_TRACE(oscar ? "port 5190, a whole frame and a partial one" : "any other port");
    auto server = RawListen(oscar ? 5190 : 0);
    ASSERT_TRUE(server);
    RawListener& target = *server;
    const QByteArray data = oscar ? Frame(0x4444, 3) + QByteArray("\x2A\x02\x00", 3) : "GET /";
    // As `printf ... | nc -N` does: everything sent, then the end of sending, before the relay has
    // even connected.
    RawSocket client = RawSocket::To(relay_.ListeningPort());
    client.Send(Socks4Request(target.Host(), target.Port()) + data);
    client.EndSending();
    RawSocket up = target.Accept();
    const QByteArray got = up.Read();
    EXPECT_TRUE(up.Ended());
    EXPECT_EQ(got.size(), data.size());
    EXPECT_EQ(got.mid(6), data.mid(6));
    // The server answers after the client's end, then ends too.
    up.Send("the answer");
    up.EndSending();
    const QByteArray answer = client.Read();
    EXPECT_EQ(answer.mid(8), "the answer");
    EXPECT_TRUE(client.Ended());
  }
}

TEST_F(CloseLoopbackTest, EitherSideMayEndFirstAndStillReceiveWhatTheOtherSends) {
  for (const bool serverFirst : {false, true}) {
    SCOPED_TRACE(serverFirst ? "the server ends first" : "the client ends first");
    RawListener server;
    RawSocket client = RawSocket::To(relay_.ListeningPort());
    client.Send(Socks4Request("127.0.0.1", server.Port()));
    RawSocket up = server.Accept();
    EXPECT_EQ(client.Read(8).size(), 8);
    RawSocket& first = serverFirst ? up : client;
    RawSocket& second = serverFirst ? client : up;
    first.Send("bye");
    first.EndSending();
    EXPECT_EQ(second.Read(), "bye");
    EXPECT_TRUE(second.Ended());
    // The other direction still carries data, in bulk, until its own end.
    const QByteArray bulk(3 << 20, 'b');
    second.Send(bulk);
    second.EndSending();
    EXPECT_TRUE(first.Read(0, 10000) == bulk);
    EXPECT_TRUE(first.Ended());
  }
}

TEST_F(CloseLoopbackTest, ASingleUnreadByteReachesTheOtherSideWhenItsSenderCloses) {
  for (const bool oscar : {false, true}) {
    for (const bool fromServer : {false, true}) {
      SCOPED_TRACE(std::string(oscar ? "framed" : "unframed") +
                   (fromServer ? ", from the server" : ", from the client"));
      auto server = RawListen(oscar ? 5190 : 0);
      ASSERT_TRUE(server);
      RawSocket client = RawSocket::To(relay_.ListeningPort());
      client.Send(Socks4Request(server->Host(), server->Port()));
      RawSocket up = server->Accept();
      EXPECT_EQ(client.Read(8).size(), 8);
      RawSocket& sender = fromServer ? up : client;
      RawSocket& receiver = fromServer ? client : up;
      sender.Send(oscar ? "\x2A" : "1");
      sender = RawSocket();  // closes at once
      EXPECT_EQ(receiver.Read(), oscar ? "\x2A" : "1");
      EXPECT_TRUE(receiver.Ended());
    }
  }
}

TEST_F(CloseLoopbackTest, TheTotalQueuedForReadersThatStoppedIsCapped) {
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
  // More than the kernel takes in for readers that read nothing.
  const QByteArray chunk(12 << 20, 'q');
  for (QTcpSocket* up : ups) up->write(chunk);
  std::size_t peak = 0;
  Until(
      [&] {
        peak = std::max(peak, relay_.QueuedBytes());
        return false;
      },
      2000);
  // The queues fill up to the cap; beyond it, each keeps at most what a queue may keep over the
  // cap, and one arrival more.
  EXPECT_GE(peak, kCap / 2);
  EXPECT_LE(peak, kCap + kConnections * (Relay::kResumeBelow + QtSocketFactory::kReadBufferSize));
  // Readers that read again get every byte.
  for (auto& c : clients) EXPECT_EQ(c.Read(chunk.size(), 10000).size(), chunk.size());
}

}  // namespace
}  // namespace quorvel::testing
