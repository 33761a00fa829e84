// The quorvel program with its window, run as a user runs it: it listens on the port of its
// settings file (or of --port, for that run only), ends on SIGTERM through the closing sequence
// (the file written, byte for byte as it was when nothing changed), hands a second start over to
// the first, and without a display it says to use --headless.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <fstream>

#include "cli/program_runs.h"
#include "settings/original_prefs.h"

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

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

TEST(WindowProgram, ListensOnTheStoredPortAndSavesOnTerminate) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  QTcpServer probe;
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
  const std::uint16_t port = probe.serverPort();
  probe.close();
  std::ofstream(prefs.toStdString())
      << "[KAVO]\r\nupdateT=30767\r\n[prefs]\r\nport=" << port << "\r\nminimize=0\r\n";

  QProcess program;  // on the platform the tests run on (offscreen unless chosen otherwise)
  program.start(QUORVEL_BINARY, {"--prefs", prefs, "--player", "none"});
  ASSERT_TRUE(program.waitForStarted(10000));
  auto accepts = [port] {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(500);
  };
  EXPECT_TRUE(QTest::qWaitFor(accepts, 10000)) << program.readAllStandardError().toStdString();
  program.terminate();  // SIGTERM
  ASSERT_TRUE(program.waitForFinished(10000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();

  QFile file(prefs);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray saved = file.readAll();
  EXPECT_TRUE(saved.contains("updateT=30767\r\n")) << saved.toStdString();
  EXPECT_TRUE(saved.contains("act=1\r\n"));  // the whole file is written
  EXPECT_TRUE(saved.contains(QStringLiteral("port=%1\r\n").arg(port).toLatin1()));
}

TEST(WindowProgram, PortOfTheCommandLineIsForThisRunAndAnOriginalFileStaysByteIdentical) {
  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  const quint16 stored = FreePort();
  const quint16 thisRun = FreePort();
  QByteArray original = QByteArray::fromStdString(kOriginalPrefs);
  original.replace("port=4000", "port=" + QByteArray::number(stored));
  {
    QFile file(prefs);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(original);
  }
  RunningProgram quorvel(
      {"--prefs", prefs, "--port", QString::number(thisRun), "--player", "none"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return Accepts(thisRun); }, kProgramWaitMs)) << quorvel.err;
  EXPECT_FALSE(Accepts(stored));
  EXPECT_EQ(quorvel.Terminate(), 0) << quorvel.err;
  // The stored port, the Windows-1252 texts and every other byte as they were: no bind line.
  EXPECT_EQ(ReadAll(prefs), original);
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
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  program.setProcessEnvironment(env);
  program.start(QUORVEL_BINARY, {});
  ASSERT_TRUE(program.waitForFinished(10000));
  EXPECT_EQ(program.exitCode(), 1);
  EXPECT_TRUE(program.readAllStandardError().contains("--headless"));
}

}  // namespace
}  // namespace quorvel::testing
