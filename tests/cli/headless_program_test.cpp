// The headless program, run as a child process, relaying over loopback.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <string>

#include "cli/program_runs.h"
#include "net/loopback.h"
#include "settings/test_files.h"

namespace quorvel::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(Headless, PortInUseFailsSavingNothingAndSigtermExitsSavingThePrefs) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  const auto taken = Listen();
  const QString port = QString::number(taken->serverPort());
  RunningProgram refused({"--headless", "--prefs", prefs, "--port", port, "--player", "none"});
  EXPECT_EQ(refused.Finish(), 1);
  EXPECT_FALSE(QFile::exists(prefs));
  // Standard error names the port and how to listen on another.
  EXPECT_THAT(refused.err,
              AllOf(HasSubstr("quorvel: cannot listen on 127.0.0.1:" + port.toStdString() + ": "),
                    HasSubstr("--port N"), HasSubstr("[prefs] of " + prefs.toStdString())));
  EXPECT_THAT(refused.process.readAllStandardOutput().toStdString(),
              StartsWith("1 x Socket (0): Start Listen Failure: "));

  const quint16 free = Listen()->serverPort();
  RunningProgram quorvel({"--headless", "--prefs", prefs, "--port", QString::number(free)});
  ASSERT_EQ(quorvel.ListeningPort(), free) << quorvel.err;
  const QByteArray request = Socks4Request(*taken);
  Socket client = ConnectTo(free, request);
  EXPECT_EQ(Read(*client, 8).toHex(' ').toStdString(),
            (QByteArray("\x00\x5A", 2) + request.mid(2, 6)).toHex(' ').toStdString())
      << "the SOCKS reply";
  EXPECT_EQ(quorvel.Terminate(), 0);
  EXPECT_THAT(quorvel.process.readAllStandardOutput().toStdString(),
              HasSubstr("Socket (1): Connecting: 127.0.0.1\n"));
  // Saved with the stored port, not this run's --port.
  EXPECT_THAT(ReadBytes(prefs),
              AllOf(StartsWith("[KAVO]\r\n"), HasSubstr("\r\n[prefs]\r\nport=3131\r\n")));
}

TEST(Headless, SecondStartWithTheSameSettingsSaysWhereTheFirstListensAndEnds) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  const auto with = [](const QString& file) {
    return QStringList{"--headless", "--prefs", file, "--port", "0", "--player", "none"};
  };
  RunningProgram first(with(prefs));
  const int port = first.ListeningPort();
  ASSERT_NE(port, 0) << first.err;
  RunningProgram second(with(dir.path() + QStringLiteral("/./prefs.ini")));  // by another path
  EXPECT_EQ(second.Finish(), 1);
  EXPECT_THAT(second.err, HasSubstr("already running for " + prefs.toStdString() +
                                    " (without a window, listening on 127.0.0.1:" +
                                    std::to_string(port) + ")"));
  RunningProgram other(with(dir.filePath(QStringLiteral("other.ini"))));  // another program
  EXPECT_NE(other.ListeningPort(), 0) << other.err;
  EXPECT_EQ(first.Terminate(), 0);
  // Once it has ended the file is free again, even after a kill left its lock behind.
  RunningProgram third(with(prefs));
  ASSERT_NE(third.ListeningPort(), 0) << third.err;
  third.process.kill();
  third.process.waitForFinished(kProgramWaitMs);
  RunningProgram fourth(with(prefs));
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
  ASSERT_TRUE(WriteBytes(prefs, "[prefs]\r\nbind=0.0.0.0\r\n"));
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
