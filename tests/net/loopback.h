#pragma once
// Test clients and servers over loopback on the Qt event loop, with every wait bounded: a reply
// that never comes fails the check that waits for it within seconds.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <memory>

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

// A SOCKS4 CONNECT to the address and port `to` listens on, from user "tester".
inline QByteArray Socks4Request(const QTcpServer& to) {
  const quint32 ip = to.serverAddress().toIPv4Address();
  return QByteArray::fromStdString("\x04\x01" + IntToWord(to.serverPort()) +
                                   IntToWord(static_cast<int>(ip >> 16)) +
                                   IntToWord(static_cast<int>(ip & 0xFFFF)) + "tester" + '\0');
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

}  // namespace quorvel::testing
