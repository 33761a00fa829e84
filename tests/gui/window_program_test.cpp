// The quorvel program with its window, run as a user runs it: it listens on the port of its
// settings file (or of --port, for that run only), ends on SIGTERM through the closing sequence
// (the file written, byte for byte as it was when nothing changed), hands a second start over to
// the first, and without a display it says to use --headless.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "cli/program_runs.h"
#include "settings/original_prefs.h"
#include "settings/test_files.h"

namespace quorvel::testing {
namespace {

using ::testing::HasSubstr;

quint16 FreePort() {
  QTcpServer probe;
  EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
  return probe.serverPort();
}

bool Accepts(quint16 port) {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, port);
  return socket.waitForConnected(500);
}

TEST(WindowProgram, ListensOnTheStoredPortOrThatOfTheCommandLineAndSavesOnTerminate) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  const quint16 stored = FreePort(), thisRun = FreePort();
  // A file of a few keys is written whole, its values kept.
  ASSERT_TRUE(WriteBytes(prefs, "[KAVO]\r\nupdateT=30767\r\n[prefs]\r\nport=" +
                                    std::to_string(stored) + "\r\nminimize=0\r\n"));
  {
    RunningProgram quorvel({"--prefs", prefs, "--player", "none"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return Accepts(stored); }, kProgramWaitMs)) << quorvel.err;
    EXPECT_EQ(quorvel.Terminate(), 0) << quorvel.err;
    const Bytes saved = ReadBytes(prefs);
    EXPECT_THAT(saved, HasSubstr("updateT=30767\r\n"));
    EXPECT_THAT(saved, HasSubstr("act=1\r\n"));
    EXPECT_THAT(saved, HasSubstr("port=" + std::to_string(stored) + "\r\n"));
  }
  // --port is for this run only: the stored port, the Windows-1252 texts and every other byte
  // stay as they were (no bind line).
  Bytes original = kOriginalPrefs;
  original.replace(original.find("port=4000"), 9, "port=" + std::to_string(stored));
  ASSERT_TRUE(WriteBytes(prefs, original));
  RunningProgram quorvel(
      {"--prefs", prefs, "--port", QString::number(thisRun), "--player", "none"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return Accepts(thisRun); }, kProgramWaitMs)) << quorvel.err;
  EXPECT_FALSE(Accepts(stored));
  EXPECT_EQ(quorvel.Terminate(), 0) << quorvel.err;
  EXPECT_EQ(ReadBytes(prefs), original);
}

TEST(WindowProgram, SecondStartBringsTheFirstWindowForwardAndEnds) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  const quint16 port = FreePort();
  RunningProgram first({"--prefs", prefs, "--port", QString::number(port), "--player", "none"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return Accepts(port); }, kProgramWaitMs)) << first.err;

  RunningProgram window({"--prefs", prefs, "--player", "none"});
  EXPECT_EQ(window.Finish(), 0);
  EXPECT_THAT(window.err, HasSubstr("its window is brought forward"));
  RunningProgram headless({"--headless", "--prefs", prefs, "--player", "none"});
  EXPECT_EQ(headless.Finish(), 1);
  EXPECT_THAT(headless.err,
              HasSubstr("(with its window, listening on 127.0.0.1:" + std::to_string(port) + ")"));
  EXPECT_EQ(first.Terminate(), 0) << first.err;
}

TEST(WindowProgram, WithoutADisplayPointsToHeadless) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  RunningProgram quorvel({}, QUORVEL_BINARY, env);
  EXPECT_EQ(quorvel.Finish(), 1);
  EXPECT_THAT(quorvel.err, HasSubstr("--headless"));
}

}  // namespace
}  // namespace quorvel::testing
