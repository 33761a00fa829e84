// The headless program, run as a child process, relaying over loopback.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/types.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <string>

#include "cli/program_runs.h"
#include "net/loopback.h"

namespace quorvel::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(Headless, PortInUseFailsSavingNothingAndSigtermExitsSavingThePrefs) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  QProcess process;
  process.setReadChannel(QProcess::StandardError);
  // Starts the program on `port`; true once it listens, false when it stops instead.
  QByteArray err;
  const auto start = [&](quint16 port) {
    process.start(QStringLiteral(QUORVEL_BINARY),
                  {"--headless", "--prefs", prefs, "--port", QString::number(port)});
    err.clear();
    while (!err.contains("Listening on ") && process.waitForReadyRead(5000))
      err += process.readAll();
    return err.contains("Listening on ");
  };
  auto taken = Listen();
  EXPECT_FALSE(start(taken->serverPort()));
  process.waitForFinished(5000);
  EXPECT_EQ(process.exitCode(), 1);
  EXPECT_FALSE(QFile::exists(prefs));
  // Standard error names the port and how to listen on another.
  const std::string said = (err + process.readAllStandardError()).toStdString();
  EXPECT_THAT(said, HasSubstr("quorvel: cannot listen on 127.0.0.1:" +
                              std::to_string(taken->serverPort()) + ": "));
  EXPECT_THAT(said, HasSubstr("--port N"));
  EXPECT_THAT(said, HasSubstr("[prefs] of " + prefs.toStdString()));
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

TEST(Headless, SecondStartWithTheSameSettingsSaysWhereTheFirstListensAndEnds) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  RunningProgram first({"--headless", "--prefs", prefs, "--port", "0", "--player", "none"});
  const int port = first.ListeningPort();
  ASSERT_NE(port, 0) << first.err;
  // The same file by another path.
  RunningProgram second({"--headless", "--prefs", dir.path() + QStringLiteral("/./prefs.ini"),
                         "--port", "0", "--player", "none"});
  EXPECT_EQ(second.Finish(), 1);
  EXPECT_THAT(second.err, HasSubstr("already running for " + prefs.toStdString() +
                                    " (without a window, listening on 127.0.0.1:" +
                                    std::to_string(port) + ")"));
  // Other settings, another program.
  RunningProgram other({"--headless", "--prefs", dir.filePath(QStringLiteral("other.ini")),
                        "--port", "0", "--player", "none"});
  EXPECT_NE(other.ListeningPort(), 0) << other.err;
  EXPECT_EQ(other.Terminate(), 0);
  EXPECT_EQ(first.Terminate(), 0);
  // Once it has ended the file is free again, even after a kill left its lock behind.
  RunningProgram third({"--headless", "--prefs", prefs, "--port", "0", "--player", "none"});
  ASSERT_NE(third.ListeningPort(), 0) << third.err;
  third.process.kill();
  third.process.waitForFinished(kProgramWaitMs);
  RunningProgram fourth({"--headless", "--prefs", prefs, "--port", "0", "--player", "none"});
  EXPECT_NE(fourth.ListeningPort(), 0) << fourth.err;
  EXPECT_EQ(fourth.Terminate(), 0);
}

// Listening on every interface is tried in a network namespace of its own, which no other
// machine reaches; where one cannot be made, the test is skipped.
TEST(Headless, ListeningBeyondLoopbackIsWarnedOfOnStandardErrorAndInTheEventLog) {
  QProcess probe;
  probe.start(QStringLiteral("unshare"), {"--net", "--map-root-user", "true"});
  if (!probe.waitForFinished(kProgramWaitMs) || probe.exitCode() != 0) {
    GTEST_SKIP() << "no network namespace: " << probe.readAllStandardError().toStdString();
  }
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  QFile file(prefs);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[prefs]\r\nbind=0.0.0.0\r\n");
  file.close();
  RunningProgram quorvel({"--net", "--map-root-user", QUORVEL_BINARY, "--headless", "--prefs",
                          prefs, "--port", "0", "--player", "none"},
                         QStringLiteral("unshare"));
  const int port = quorvel.ListeningPort();
  ASSERT_NE(port, 0) << quorvel.err;
  const std::string warning = "Warning: listening on 0.0.0.0:" + std::to_string(port) +
                              ", not only on this machine: other machines can use this proxy";
  EXPECT_TRUE(quorvel.SaysOnStderr("quorvel: " + warning + "\n")) << quorvel.err;
  EXPECT_EQ(quorvel.Terminate(), 0);
  EXPECT_THAT(quorvel.process.readAllStandardOutput().toStdString(),
              HasSubstr("1 x " + warning + "\n"));
}

}  // namespace
}  // namespace quorvel::testing
