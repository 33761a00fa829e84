// SOCKS requests through the relay over real loopback sockets: IPv6 reached, the address the
// relay's own connection is bound to reported, and real connect failures and names that do not
// resolve answered with their code.

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

TEST_F(SocksLoopbackTest, AnIPv6ServerIsReachedAndTheGrantCarriesTheBoundAddress) {
  RawListener server("::1");
  ASSERT_TRUE(server.Listening());
  RawSocket client = RawSocket::To(relay_.ListeningPort());
  // The handshake and the first data in one go.
  client.Send(Socks5(Bytes("04") + QByteArray(15, '\0') + '\x01', server.Port()) + "ping");
  RawSocket up = server.Accept();
  EXPECT_EQ(up.Read(4), "ping");
  // The greeting's answer, then the grant with ::1 and the relay's own port.
  EXPECT_EQ(HexOf(client.Read(2 + 22).left(2 + 20)),
            "05 00 05 00 00 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01");
  up.Send("pong");
  EXPECT_EQ(client.Read(4), "pong");
  EXPECT_THAT(events_, Contains("Socket (1): Connecting: ::1"));
}

TEST_F(SocksLoopbackTest, FailedConnectsAreAnsweredWithTheirCode) {
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
}

}  // namespace
}  // namespace quorvel::testing
