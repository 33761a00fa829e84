#pragma once
// Test clients and servers over loopback on the Qt event loop, with every wait bounded: a reply
// that never comes fails the check that waits for it within seconds.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <utility>

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

// A SOCKS4 CONNECT to the IPv4 address `ip` and `port`, from user "tester".
inline QByteArray Socks4Request(const std::string& ip, quint16 port) {
  const quint32 v4 = QHostAddress(QString::fromStdString(ip)).toIPv4Address();
  return QByteArray::fromStdString("\x04\x01" + IntToWord(port) +
                                   IntToWord(static_cast<int>(v4 >> 16)) +
                                   IntToWord(static_cast<int>(v4 & 0xFFFF)) + "tester" + '\0');
}
// The same to the address and port `to` listens on.
inline QByteArray Socks4Request(const QTcpServer& to) {
  return Socks4Request(to.serverAddress().toString().toStdString(), to.serverPort());
}

// A test server on 127.0.0.1 at a free port, or at `port` (5190) on the first 127.0.0.x where that
// port is free.
inline std::unique_ptr<QTcpServer> Listen(quint16 port = 0) {
  auto server = std::make_unique<QTcpServer>();
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

// A connection over plain descriptors, for what QTcpSocket cannot do: end only its sending
// (shutdown), or end with a reset. Non-blocking; the waits run the event loop.
class RawSocket {
 public:
  explicit RawSocket(int fd = -1) : fd_(fd) {
    if (fd_ >= 0) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
  }
  // A client of `port` at `host` (IPv4 or IPv6); connected at once, the kernel takes it.
  // `receiveBuffer` bytes (when not 0) bound what the kernel takes in ahead of the reader.
  static RawSocket To(quint16 port, const std::string& host = "127.0.0.1", int receiveBuffer = 0) {
    sockaddr_storage address{};
    const socklen_t size = Address(host, port, address);
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) {
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), size), 0)
        << "connect to " << host;
    return RawSocket(fd);
  }
  // `host` (IPv4 or IPv6 text) and `port` as a socket address; its size.
  static socklen_t Address(const std::string& host, quint16 port, sockaddr_storage& address) {
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
      v4.sin_family = AF_INET;
      v4.sin_port = htons(port);
      return sizeof v4;
    }
    ::inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    return sizeof v6;
  }
  RawSocket(RawSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  RawSocket& operator=(RawSocket&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~RawSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Valid() const { return fd_ >= 0; }

  void Send(const QByteArray& data) {
    qint64 sent = 0;
    Until([&] {
      const ssize_t n = ::send(fd_, data.constData() + sent,
                               static_cast<std::size_t>(data.size() - sent), MSG_NOSIGNAL);
      if (n > 0) sent += n;
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
  QByteArray Read(qint64 count = 0, int ms = kReplyWaitMs) {
    QByteArray got;
    Until(
        [&] {
          char buf[65536];
          while (count == 0 || got.size() < count) {
            const std::size_t want =
                count == 0 ? sizeof buf
                           : std::min<std::size_t>(sizeof buf,
                                                   static_cast<std::size_t>(count - got.size()));
            const ssize_t n = ::recv(fd_, buf, want, 0);
            if (n > 0) {
              got.append(buf, n);
              continue;
            }
            if (n == 0 || errno != EAGAIN) ended_ = true;
            break;
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

// A listening descriptor at `host` (IPv4 or IPv6 loopback) on `port`, or a free one.
class RawListener {
 public:
  explicit RawListener(const std::string& host = "127.0.0.1", quint16 port = 0) : host_(host) {
    sockaddr_storage address{};
    socklen_t size = RawSocket::Address(host, port, address);
    fd_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 16) != 0) {
      ::close(std::exchange(fd_, -1));
      return;
    }
    size = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    // The port field sits at the same offset in both address forms.
    port_ = ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port);
  }
  ~RawListener() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;

  bool Listening() const { return fd_ >= 0; }
  quint16 Port() const { return port_; }
  const std::string& Host() const { return host_; }
  // The next connection; invalid when none comes within the wait.
  RawSocket Accept() {
    int fd = -1;
    EXPECT_TRUE(Until([&] {
      if (fd < 0) fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      return fd >= 0;
    })) << "no connection came";
    return RawSocket(fd);
  }

 private:
  std::string host_;
  int fd_ = -1;
  quint16 port_ = 0;
};

// A RawListener on 127.0.0.1 at a free port, or at `port` (5190) on the first 127.0.0.x where
// that port is free.
inline std::unique_ptr<RawListener> RawListen(quint16 port = 0) {
  for (int x = port == 0 ? 1 : 2; x < 250; ++x) {
    auto listener = std::make_unique<RawListener>("127.0.0." + std::to_string(x), port);
    if (listener->Listening()) return listener;
  }
  return nullptr;
}

}  // namespace quorvel::testing
