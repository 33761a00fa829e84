// The quorvel program with its window, run as a user runs it on a real X11 desktop: an Xvfb
// display with a window manager (openbox) and a notification area (trayer). It listens on --port
// for that run only; minimising to the tray leaves nothing of the window on screen; a second start
// brings it back; SIGTERM ends it through the closing sequence, the file written byte for byte as
// it was. Without a display it says to use --headless.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "cli/program_runs.h"
#include "settings/original_prefs.h"
#include "settings/test_files.h"

namespace quorvel::testing {
namespace {

using ::testing::ContainsRegex, ::testing::HasSubstr, ::testing::Not;

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
  // Each program of the desktop is killed, by its own id, at the end.
  RunningProgram xvfb(
      {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset"}, "Xvfb",
      env);
  QByteArray number;  // a loaded machine may take a while before Xvfb names its display
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return (number += xvfb.process.readAllStandardOutput()).contains('\n'); },
      kProgramWaitMs));
  env.insert("DISPLAY", ":" + number.trimmed());
  env.insert("QT_QPA_PLATFORM", "xcb");
  RunningProgram openbox({}, "openbox", env);
  RunningProgram trayer(
      {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100"}, "trayer",
      env);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return tree().contains("(\"panel\" \"trayer\")"); }, kProgramWaitMs));

  QTemporaryDir dir;
  const QString prefs = dir.filePath("prefs.ini");
  Bytes original = kOriginalPrefs;
  original.replace(original.find("minimize=0"), 10, "minimize=1");
  ASSERT_TRUE(WriteBytes(prefs, original));
  const QStringList arguments = {"--prefs", prefs, "--player", "none"};
  RunningProgram quorvel(arguments + QStringList{"--port", "0"}, QUORVEL_BINARY, env);
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
  // It says where it really listens: on a port the system chose for this run, not the stored one.
  RunningProgram headless(arguments + QStringList{"--headless"}, QUORVEL_BINARY, env);
  EXPECT_EQ(headless.Finish(), 1);
  EXPECT_THAT(headless.err, ContainsRegex(R"(with its window, listening on 127\.0\.0\.1:[1-9])"));
  EXPECT_THAT(headless.err, Not(HasSubstr(":4000)")));
  // SIGTERM runs the closing sequence: the file is written, and nothing in it changed.
  EXPECT_EQ(quorvel.Terminate(), 0) << quorvel.err;
  EXPECT_EQ(ReadBytes(prefs), original);
}

}  // namespace
}  // namespace quorvel::testing
