// The quorvel program with its window, run as a user runs it: it listens on the port of its
// settings file, ends on SIGTERM through the closing sequence (the file written), and without a
// display it says to use --headless.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <fstream>

namespace quorvel::testing {
namespace {

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
