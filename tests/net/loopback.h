#pragma once
// Test clients and servers over loopback on the Qt event loop, with every wait bounded: a reply
// that never comes fails the check that waits for it within seconds.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "wire/word.h"

namespace quorvel::testing {

using Socket = std::unique_ptr<QTcpSocket>;

// How long a test waits for a reply before it counts as missing.
inline constexpr int kReplyWaitMs = 5000;

// Runs the event loop until `done` holds or `ms` pass; returns whether it holds.
inline bool Until(const std::function<bool()>& done, int ms = kReplyWaitMs) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);  // main's timer ticks
  }
  return done();
}

// `count` bytes from `s`, or (count 0) everything until the peer closes; what came within `ms`.
inline QByteArray Read(QTcpSocket& s, qint64 count = 0, int ms = kReplyWaitMs) {
  QByteArray got;
  Until(
      [&] {
        got += count > 0 ? s.read(count - got.size()) : s.readAll();
        return count > 0 ? got.size() == count : s.state() == QAbstractSocket::UnconnectedState;
      },
      ms);
  return got;
}

// A SOCKS4 CONNECT, from user "tester", to the IPv4 address and port `to` listens on.
inline QByteArray Socks4Request(const QTcpServer& to) {
  const quint32 v4 = to.serverAddress().toIPv4Address();
  return QByteArray::fromStdString("\x04\x01" + IntToWord(to.serverPort()) +
                                   IntToWord(static_cast<int>(v4 >> 16)) +
                                   IntToWord(static_cast<int>(v4 & 0xFFFF)) + "tester" + '\0');
}

// A test server on 127.0.0.1 at a free port, or at `port` (5190) on the first 127.0.0.x where that
// port is free.
template <typename Server = QTcpServer>
std::unique_ptr<Server> Listen(quint16 port = 0) {
  auto server = std::make_unique<Server>();
  for (int x = port == 0 ? 1 : 2; x < 250 && !server->isListening(); ++x) {
    server->listen(QHostAddress(QStringLiteral("127.0.0.%1").arg(x)), port);
  }
  return server;
}

// A client of 127.0.0.1:`port` that sends `request` once connected.
inline Socket ConnectTo(quint16 port, const QByteArray& request = {}) {
  auto s = std::make_unique<QTcpSocket>();
  s->connectToHost(QHostAddress::LocalHost, port);
  s->write(request);
  return s;
}

// A connection over a plain descriptor, for what QTcpSocket cannot do: end only its sending
// (shutdown) and still read, or end with a reset. Non-blocking; the waits run the event loop.
class RawSocket {
 public:
  explicit RawSocket(int fd = -1) : fd_(fd) {
    if (fd_ >= 0) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
  }
  // A client of 127.0.0.1:`port`; connected at once, the kernel takes it.
  static RawSocket To(quint16 port) {
    const sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    return RawSocket(fd);
  }
  RawSocket(RawSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  RawSocket& operator=(RawSocket&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~RawSocket() {
    if (fd_ >= 0) ::close(fd_);
  }

  void Send(std::string_view data) {
    std::size_t sent = 0;
    Until([&] {
      const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      sent += n > 0 ? static_cast<std::size_t>(n) : 0;
      return sent == data.size() || (n < 0 && errno != EAGAIN);
    });
    EXPECT_EQ(sent, data.size()) << "sending stalled";
  }
  void EndSending() { ::shutdown(fd_, SHUT_WR); }
  // Ends the connection with a reset rather than an orderly close.
  void Reset() {
    const linger abortive{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(std::exchange(fd_, -1));
  }
  // `count` bytes, or (count 0) everything until the peer's end; what came within `ms`.
  std::string Read(std::size_t count = 0, int ms = kReplyWaitMs) {
    std::string got;
    char buf[65536];
    Until(
        [&] {
          for (ssize_t n = 1; n > 0 && (count == 0 || got.size() < count);) {
            n = ::recv(fd_, buf, count == 0 ? sizeof buf : std::min(sizeof buf, count - got.size()),
                       0);
            if (n > 0) got.append(buf, static_cast<std::size_t>(n));
            ended_ = ended_ || n == 0 || (n < 0 && errno != EAGAIN);
          }
          return count > 0 ? got.size() >= count : ended_;
        },
        ms);
    return got;
  }
  // Whether the peer ended its sending (read so far).
  bool Ended() {
    Read(0, 0);
    return ended_;
  }

 private:
  int fd_ = -1;
  bool ended_ = false;
};

// A server whose connections are taken as RawSockets; Listen<RawListener>() makes one.
class RawListener : public QTcpServer {
 public:
  ~RawListener() override {
    for (int fd : taken_) ::close(fd);
  }
  // The next connection; invalid when none comes within the wait.
  RawSocket Accept() {
    EXPECT_TRUE(Until([&] { return !taken_.empty(); })) << "no connection came";
    if (taken_.empty()) return RawSocket();
    const int fd = taken_.front();
    taken_.erase(taken_.begin());
    return RawSocket(fd);
  }

 protected:
  void incomingConnection(qintptr fd) override { taken_.push_back(static_cast<int>(fd)); }

 private:
  std::vector<int> taken_;
};

}  // namespace quorvel::testing
