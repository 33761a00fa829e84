// The headless program as SOCKS clients meet it: a request never completed is timed out after the
// time its environment sets, and curl in each of its SOCKS modes fetches a page from a test HTTP
// server over loopback (skipped where curl is not installed).

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "loopback.h"

namespace quorvel::testing {
namespace {

// Answers every request on `address` with a short page, then closes.
class PageServer {
 public:
  explicit PageServer(const QHostAddress& address) {
    server_.listen(address, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* s = server_.nextPendingConnection()) {
        QObject::connect(s, &QTcpSocket::readyRead, s, [s] {
          if (!s->peek(65536).contains("\r\n\r\n")) return;
          s->readAll();
          s->write("HTTP/1.0 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nhello\n");
          s->disconnectFromHost();
        });
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      }
    });
  }
  bool Listening() const { return server_.isListening(); }
  quint16 Port() const { return server_.serverPort(); }

 private:
  QTcpServer server_;
};

// `quorvel --headless` on a free loopback port, with its own settings file and no player.
class Program {
 public:
  explicit Program(const QProcessEnvironment& environment) {
    process_.setProcessEnvironment(environment);
    process_.start(QStringLiteral(QUORVEL_BINARY),
                   {"--headless", "--prefs", dir_.filePath(QStringLiteral("prefs.ini")), "--port",
                    "0", "--player", "none"});
    QByteArray err;
    process_.setReadChannel(QProcess::StandardError);
    while (!err.contains('\n') && process_.waitForReadyRead(5000)) err += process_.readAll();
    const qsizetype colon = err.lastIndexOf(':');
    port_ = err.startsWith("Listening on ") ? err.mid(colon + 1).trimmed().toUShort() : 0;
  }
  ~Program() {
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
    process_.waitForFinished(1000);
  }
  quint16 Port() const { return port_; }
  // Standard output so far: the event log's lines.
  QByteArray Output() {
    output_ += process_.readAllStandardOutput();
    return output_;
  }

 private:
  QTemporaryDir dir_;
  QProcess process_;
  quint16 port_ = 0;
  QByteArray output_;
};

// What curl fetched from `url` through the proxy with `mode` (--socks4 and the like).
QByteArray Fetch(const QString& curl, const QString& mode, quint16 proxyPort, const QString& url) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name :
       {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
    environment.remove(QString::fromLatin1(name));
  }
  process.setProcessEnvironment(environment);
  process.start(curl, {"--silent", "--show-error", "--max-time", "8", mode,
                       QStringLiteral("127.0.0.1:%1").arg(proxyPort), url});
  Until([&] { return process.state() == QProcess::NotRunning; }, 10000);
  const QByteArray err = process.readAllStandardError();
  EXPECT_EQ(process.exitCode(), 0) << err.toStdString();
  return process.readAllStandardOutput();
}

TEST(SocksClients, RequestsNotCompletedInTimeAreClosedAndCurlFetchesInEachSocksMode) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QUORVEL_REQUEST_TIMEOUT_MS"), QStringLiteral("1500"));
  Program program(environment);
  ASSERT_NE(program.Port(), 0) << "the program did not start";
  Socket idle = ConnectTo(program.Port(), QByteArray("\x04\x01", 2));
  EXPECT_EQ(Read(*idle, 0, 8000), "");
  EXPECT_EQ(idle->state(), QAbstractSocket::UnconnectedState);
  EXPECT_TRUE(Until([&] { return program.Output().contains("Socket (1): Request Timed Out\n"); }));

  const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
  if (curl.isEmpty()) GTEST_SKIP() << "curl is not installed";
  PageServer v4(QHostAddress::LocalHost);
  ASSERT_TRUE(v4.Listening());
  const QString byAddress = QStringLiteral("http://127.0.0.1:%1/").arg(v4.Port());
  const QString byName = QStringLiteral("http://localhost:%1/").arg(v4.Port());
  for (const auto& [mode, url] :
       {std::pair{"--socks4", byAddress}, std::pair{"--socks4a", byName},
        std::pair{"--socks5", byAddress}, std::pair{"--socks5-hostname", byName}}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(Fetch(curl, QString::fromLatin1(mode), program.Port(), url), "hello\n");
  }
  EXPECT_TRUE(program.Output().contains("Socket (1): Connecting: localhost\n"));
}

}  // namespace
}  // namespace quorvel::testing
