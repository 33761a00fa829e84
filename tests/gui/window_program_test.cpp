// The quorvel program with its window, run as a user runs it on a real X11 desktop: an Xvfb
// display with a window manager (openbox) and a notification area (trayer). It listens on --port
// for that run only; minimising to the tray leaves nothing of the window on screen; a second start
// brings it back; SIGTERM ends it through the closing sequence, the file written byte for byte as
// it was. Without a display it says to use --headless.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

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

TEST(WindowProgram, NeedsADisplayListensForThisRunHidesToTheTrayComesBackAndKeepsTheFile) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  RunningProgram noDisplay({}, QUORVEL_BINARY, env);
  EXPECT_EQ(noDisplay.Finish(), 1);
  EXPECT_THAT(noDisplay.err, HasSubstr("--headless"));
  for (const char* tool : {"Xvfb", "openbox", "trayer", "xdotool", "xwininfo"}) {
    if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
      GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
  }
  std::vector<std::unique_ptr<RunningProgram>> desktop;  // killed, by their own ids, at the end
  const auto start = [&](const char* program, const QStringList& arguments) -> QProcess& {
    return desktop.emplace_back(std::make_unique<RunningProgram>(arguments, program, env))->process;
  };
  const auto ask = [&](const char* program, const QStringList& arguments) {
    RunningProgram asked(arguments, program, env);
    asked.Finish();
    return QString::fromLocal8Bit(asked.process.readAllStandardOutput()).trimmed();
  };
  const auto tree = [&] { return ask("xwininfo", {"-root", "-tree"}); };
  const auto shown = [&] {  // the shown (mapped and viewable) windows of the program
    return ask("xdotool", {"search", "--onlyvisible", "--name", "Quorvel"});
  };
  // No reset when its last client leaves: a client starting just then would find no display.
  QProcess& xvfb = start(
      "Xvfb", {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset"});
  QByteArray number;  // a loaded machine may take a while before Xvfb names its display
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return (number += xvfb.readAllStandardOutput()).contains('\n'); }, kProgramWaitMs));
  env.insert("DISPLAY", ":" + number.trimmed());
  env.insert("QT_QPA_PLATFORM", "xcb");
  start("openbox", {});
  start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100"});
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return tree().contains("(\"panel\" \"trayer\")"); }, kProgramWaitMs));

  QTemporaryDir dir;
  const QString prefs = dir.filePath("prefs.ini");
  const quint16 stored = FreePort(), thisRun = FreePort();
  Bytes original = kOriginalPrefs;
  original.replace(original.find("port=4000"), 9, "port=" + std::to_string(stored));
  original.replace(original.find("minimize=0"), 10, "minimize=1");
  ASSERT_TRUE(WriteBytes(prefs, original));
  const QStringList arguments = {"--prefs", prefs, "--player", "none"};
  RunningProgram quorvel(arguments + QStringList{"--port", QString::number(thisRun)},
                         QUORVEL_BINARY, env);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Accepts(thisRun); }, kProgramWaitMs)) << quorvel.err;
  EXPECT_FALSE(Accepts(stored));
  // Its window is shown, and its icon docked in the panel (no longer the 1x1 stand-in).
  const QRegularExpression docked(R"("quorvel": \("quorvel" "quorvel"\)\s+(?!1x)\d+x)");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !shown().isEmpty() && docked.match(tree()).hasMatch(); },
                              kProgramWaitMs))
      << tree().toStdString();

  ask("xdotool", {"windowminimize", shown().split(u'\n')[0]});
  // Nothing of it stays on screen, now or a moment later: no frame, no empty window.
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown().isEmpty(); }, kProgramWaitMs));
  QTest::qWait(1000);
  EXPECT_TRUE(shown().isEmpty()) << tree().toStdString();

  RunningProgram second(arguments, QUORVEL_BINARY, env);
  EXPECT_EQ(second.Finish(), 0);
  EXPECT_THAT(second.err, HasSubstr("its window is brought forward"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !shown().isEmpty(); }, kProgramWaitMs));
  RunningProgram headless(arguments + QStringList{"--headless"}, QUORVEL_BINARY, env);
  EXPECT_EQ(headless.Finish(), 1);
  EXPECT_THAT(
      headless.err,
      HasSubstr("(with its window, listening on 127.0.0.1:" + std::to_string(thisRun) + ")"));
  // SIGTERM runs the closing sequence: the file is written, and nothing in it changed.
  EXPECT_EQ(quorvel.Terminate(), 0) << quorvel.err;
  EXPECT_EQ(ReadBytes(prefs), original);
}

}  // namespace
}  // namespace quorvel::testing
