// Every form of SOCKS request through the relay over real loopback sockets: where each connects,
// what each is answered when it is not served, and the timeout of requests never completed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "relay_fixture.h"

namespace quorvel::testing {
namespace {

using ::testing::Contains;

QByteArray Bytes(const char* hex) {
  return QByteArray::fromHex(hex);
}

QByteArray Socks5(const QByteArray& addressed, quint16 port) {
  return Bytes("050100") + Bytes("050100") + addressed + QByteArray::fromStdString(IntToWord(port));
}

std::string HexOf(const QByteArray& bytes) {
  return bytes.toHex(' ').toStdString();
}

class SocksLoopbackTest : public RelayLoopbackTest {};

TEST_F(SocksLoopbackTest, EachFormReachesItsServerAndCarriesTrafficBothWays) {
  const struct {
    const char* name;
    std::string serverHost;  // where the test server listens
    QByteArray (*request)(quint16 port);
    int replySize;  // all the client is answered before the server's bytes
    std::string connecting;
  } forms[] = {
      {"SOCKS4", "127.0.0.1", [](quint16 p) { return Socks4Request("127.0.0.1", p); }, 8,
       "127.0.0.1"},
      {"SOCKS4a localhost", "127.0.0.1",
       [](quint16 p) {
         return Bytes("0401") + QByteArray::fromStdString(IntToWord(p)) + Bytes("00000001") + "me" +
                '\0' + "localhost" + '\0';
       },
       8, "localhost"},
      {"SOCKS5 IPv4", "127.0.0.1", [](quint16 p) { return Socks5(Bytes("017F000001"), p); }, 2 + 10,
       "127.0.0.1"},
      {"SOCKS5 domain", "127.0.0.1",
       [](quint16 p) { return Socks5(Bytes("03") + char(9) + "localhost", p); }, 2 + 10,
       "localhost"},
      {"SOCKS5 IPv6", "::1",
       [](quint16 p) { return Socks5(Bytes("04") + QByteArray(15, '\0') + '\x01', p); }, 2 + 22,
       "::1"},
  };
  for (const auto& form : forms) {
    SCOPED_TRACE(form.name);
    RawListener server(form.serverHost);
    ASSERT_TRUE(server.Listening());
    RawSocket client = RawSocket::To(relay_.ListeningPort());
    // The handshake and the first data in one go.
    client.Send(form.request(server.Port()) + "ping");
    RawSocket up = server.Accept();
    ASSERT_TRUE(up.Valid());
    EXPECT_EQ(up.Read(4), "ping");
    const QByteArray reply = client.Read(form.replySize);
    ASSERT_EQ(reply.size(), form.replySize);
    if (form.replySize == 8) {
      EXPECT_EQ(HexOf(reply.left(2)), "00 5a");
    } else {
      EXPECT_EQ(HexOf(reply.left(5)), "05 00 05 00 00");
      EXPECT_EQ(reply[3 + 2], form.replySize == 12 ? 1 : 4);  // the bound address's type
    }
    up.Send("pong");
    EXPECT_EQ(client.Read(4), "pong");
    EXPECT_THAT(events_, Contains(::testing::EndsWith("Connecting: " + form.connecting)));
  }
}

TEST_F(SocksLoopbackTest, RequestsNotServedAreAnsweredWithTheirCode) {
  quint16 refusedPort = 0;  // a port where nothing listens any more
  {
    RawListener closed;
    refusedPort = closed.Port();
  }
  const struct {
    const char* name;
    QByteArray request;
    std::string reply;
  } cases[] = {
      {"SOCKS4, refused", Socks4Request("127.0.0.1", refusedPort),
       HexOf(Bytes("005B") + Socks4Request("127.0.0.1", refusedPort).mid(2, 6))},
      {"SOCKS5, refused", Socks5(Bytes("017F000001"), refusedPort),
       "05 00 05 05 00 01 00 00 00 00 00 00"},
      {"SOCKS4a, a name that cannot resolve", Bytes("04010050000000FF") + '\0' + "bad..name" + '\0',
       "00 5b 00 50 00 00 00 ff"},
      {"SOCKS5, a name that cannot resolve", Socks5(Bytes("03") + char(9) + "bad..name", 80),
       "05 00 05 04 00 01 00 00 00 00 00 00"},
      {"SOCKS4 BIND", Bytes("040200507F00000100"), "00 5b 00 50 7f 00 00 01"},
      {"SOCKS4, an over-long user id", Bytes("040100507F000001") + QByteArray(1100, 'u') + '\0',
       "00 5b 00 50 7f 00 00 01"},
      {"SOCKS5 UDP ASSOCIATE",
       Bytes("050100") + Bytes("0503000100000000"
                               "0000"),
       "05 00 05 07 00 01 00 00 00 00 00 00"},
      {"SOCKS5 without no-authentication", Bytes("050102"), "05 ff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawSocket client = RawSocket::To(relay_.ListeningPort());
    client.Send(c.request);
    // The whole reply, then the end of the connection.
    EXPECT_EQ(HexOf(client.Read()), c.reply);
    EXPECT_TRUE(client.Ended());
  }
  EXPECT_THAT(events_, Contains("Socket (1): Socket Error: Connection refused (127.0.0.1)"));
  EXPECT_THAT(events_, Contains("Socket (1): Request Refused"));
}

TEST_F(SocksLoopbackTest, AResetOfAnEstablishedConnectionIsLoggedAsAnError) {
  RawListener server;
  RawSocket client = RawSocket::To(relay_.ListeningPort());
  client.Send(Socks4Request("127.0.0.1", server.Port()));
  RawSocket up = server.Accept();
  EXPECT_EQ(client.Read(8).size(), 8);
  up.Reset();
  EXPECT_TRUE(HasEvent("Socket (1): Socket Error: Connection reset by peer (127.0.0.1)"));
  EXPECT_EQ(EventsStartingWith("Socket (1): Remote Socket Closed").size(), 0u);
  EXPECT_EQ(client.Read(), "");
  EXPECT_TRUE(client.Ended());
}

TEST_F(SocksLoopbackTest, ARequestNotCompletedInTimeIsClosedAndLogged) {
  relay_.SetRequestTimeout(300);
  RawListener server;
  RawSocket idle = RawSocket::To(relay_.ListeningPort());
  idle.Send(Bytes("0401"));  // half a request, then nothing
  RawSocket served = RawSocket::To(relay_.ListeningPort());
  served.Send(Socks4Request("127.0.0.1", server.Port()));
  RawSocket up = server.Accept();
  EXPECT_EQ(served.Read(8).size(), 8);
  EXPECT_EQ(idle.Read(0, 5000), "");
  EXPECT_TRUE(idle.Ended());
  EXPECT_THAT(events_, Contains("Socket (1): Request Timed Out"));
  // A granted connection is not timed out.
  Until([] { return false; }, 500);
  up.Send("late");
  EXPECT_EQ(served.Read(4), "late");
}

}  // namespace
}  // namespace quorvel::testing
