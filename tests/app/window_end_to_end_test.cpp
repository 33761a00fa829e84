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

namespace quorvel::testing {
namespace {

std::uint16_t FreePort() {
  QTcpServer server;
  EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
  return server.serverPort();
}

bool Accepts(std::uint16_t port) {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, port);
  const bool connected = socket.waitForConnected(500);
  socket.abort();
  return connected;
}

TEST(WindowProgram, ListensOnTheStoredPortAndSavesOnTerminate) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  const std::uint16_t port = FreePort();
  QFile file(prefs);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QStringLiteral("[KAVO]\r\nupdateT=30767\r\n[prefs]\r\nport=%1\r\nminimize=0\r\n")
                 .arg(port)
                 .toLatin1());
  file.close();

  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  program.setProcessEnvironment(env);
  program.start(
      QStringLiteral(QUORVEL_BINARY),
      {QStringLiteral("--prefs"), prefs, QStringLiteral("--player"), QStringLiteral("none")});
  ASSERT_TRUE(program.waitForStarted(10000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Accepts(port); }, 15000))
      << program.readAllStandardError().toStdString();

  program.terminate();  // SIGTERM
  ASSERT_TRUE(program.waitForFinished(15000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
  EXPECT_FALSE(Accepts(port));

  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray saved = file.readAll();
  EXPECT_TRUE(saved.contains("updateT=30767\r\n")) << saved.toStdString();
  EXPECT_TRUE(saved.contains("act=1\r\n")) << saved.toStdString();  // the whole file is written
  EXPECT_TRUE(saved.contains(QStringLiteral("port=%1\r\n").arg(port).toLatin1()));
}

TEST(WindowProgram, WithoutADisplayPointsToHeadless) {
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    env.remove(QString::fromLatin1(name));
  }
  program.setProcessEnvironment(env);
  program.start(QStringLiteral(QUORVEL_BINARY), {});
  ASSERT_TRUE(program.waitForFinished(15000));
  EXPECT_EQ(program.exitCode(), 1);
  EXPECT_TRUE(program.readAllStandardError().contains("--headless"));
}

}  // namespace
}  // namespace quorvel::testing
