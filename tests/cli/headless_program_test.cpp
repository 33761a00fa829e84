// The headless program, run as a child process, relaying over loopback.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/types.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <string>

#include "net/loopback.h"

namespace quorvel::testing {
namespace {

using ::testing::StartsWith;

TEST(Headless, PortInUseFailsSavingNothingAndSigtermExitsSavingThePrefs) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  QProcess process;
  process.setReadChannel(QProcess::StandardError);
  // Starts the program on `port`; true once it listens, false when it stops instead.
  const auto start = [&](quint16 port) {
    process.start(QStringLiteral(QUORVEL_BINARY),
                  {"--headless", "--prefs", prefs, "--port", QString::number(port)});
    QByteArray err;
    while (!err.contains("Listening on ") && process.waitForReadyRead(5000))
      err += process.readAll();
    return err.contains("Listening on ");
  };
  auto taken = Listen();
  EXPECT_FALSE(start(taken->serverPort()));
  process.waitForFinished(5000);
  EXPECT_NE(process.exitCode(), 0);
  EXPECT_FALSE(QFile::exists(prefs));
  EXPECT_TRUE(process.readAllStandardOutput().startsWith("1 x Socket (0): Start Listen Failure: "));

  const quint16 port = Listen()->serverPort();  // free again
  ASSERT_TRUE(start(port));
  const QByteArray request = Socks4Request(*taken);
  Socket client = ConnectTo(port, request);
  EXPECT_EQ(Read(*client, 8).toHex(' ').toStdString(),
            (QByteArray("\x00\x5A", 2) + request.mid(2, 6)).toHex(' ').toStdString())
      << "the SOCKS reply";
  ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
  ASSERT_TRUE(process.waitForFinished(5000));
  EXPECT_EQ(process.exitCode(), 0);
  EXPECT_TRUE(process.readAllStandardOutput().contains("Socket (1): Connecting: 127.0.0.1\n"));
  // Saved with the stored port, not this run's --port.
  QFile saved(prefs);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const std::string text = saved.readAll().toStdString();
  EXPECT_THAT(text, StartsWith("[KAVO]\r\n"));
  EXPECT_THAT(text, ::testing::HasSubstr("\r\n[prefs]\r\nport=3131\r\n"));
}

}  // namespace
}  // namespace quorvel::testing
