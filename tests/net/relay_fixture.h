#pragma once
// The relay on the Qt socket adapter, listening on loopback, with a host that forwards everything
// and keeps the event lines.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "loopback.h"
#include "net/qt_socket.h"
#include "proxy/forwarding_host.h"
#include "proxy/relay.h"
#include "proxy/relay_events.h"

namespace quorvel::testing {

// The server's next connection, reading at most `buffer` bytes ahead of the test (0: no limit);
// null when none comes.
inline QTcpSocket* Accept(QTcpServer& server, qint64 buffer = 0) {
  EXPECT_TRUE(Until([&] { return server.hasPendingConnections(); })) << "no connection came";
  QTcpSocket* s = server.nextPendingConnection();
  if (s != nullptr) s->setReadBufferSize(buffer);
  return s;
}

class RelayLoopbackTest : public ::testing::Test {
 protected:
  RelayLoopbackTest() { relay_.StartListening(0); }
  // A client whose SOCKS4 request to `server` the relay granted, and the server's end of it.
  struct Connection {
    RawSocket client, up;
  };
  Connection Connected(RawListener& server) {
    RawSocket client = RawSocket::To(relay_.ListeningPort());
    client.Send(Socks4Request(server.Host(), server.Port()));
    RawSocket up = server.Accept();
    EXPECT_EQ(client.Read(8).left(2), QByteArray("\x00\x5A", 2)) << "the SOCKS reply";
    return {std::move(client), std::move(up)};
  }

  // The relay's events that begin with `prefix`.
  std::vector<std::string> EventsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& e : events_) {
      if (e.starts_with(prefix)) out.push_back(e);
    }
    return out;
  }
  bool HasEvent(const std::string& line) {
    return Until([&] { return std::find(events_.begin(), events_.end(), line) != events_.end(); });
  }

  QtSocketFactory factory_;
  Relay relay_{factory_, &host_};
  std::vector<std::string> events_;
  ForwardingHost host_{relay_, [this](SlotIndex i, const std::string& text) {
                         events_.push_back(RelayEventLine(i, text));
                       }};
};

}  // namespace quorvel::testing
