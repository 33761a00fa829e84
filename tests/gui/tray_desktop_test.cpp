// The program on a real X11 desktop: an Xvfb display with a window manager (openbox) and a
// notification area (trayer). Minimising to the tray must leave nothing of the window on screen,
// and a click on the icon must bring it back. Skipped where those programs are not installed.

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "cli/program_runs.h"
#include "settings/test_files.h"

namespace quorvel::testing {
namespace {

// A desktop's programs, ended (by their own process ids) when the test ends.
class Desktop {
 public:
  ~Desktop() {
    for (auto it = programs_.rbegin(); it != programs_.rend(); ++it) {
      (*it)->kill();
      (*it)->waitForFinished(kProgramWaitMs);
    }
  }

  // Starts Xvfb on a free display; false when it does not come up.
  bool Start() {
    QProcess& xvfb = Run(QStringLiteral("Xvfb"),
                         {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"},
                         QProcessEnvironment::systemEnvironment());
    QByteArray number;
    QDeadlineTimer deadline(kProgramWaitMs);
    // A loaded machine may take a while before Xvfb names its display: wait for the deadline,
    // not for the first quiet moment.
    while (!number.contains('\n') && !deadline.hasExpired() &&
           xvfb.state() != QProcess::NotRunning) {
      xvfb.waitForReadyRead(200);
      number += xvfb.readAllStandardOutput();
    }
    if (!number.contains('\n')) return false;
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + number.trimmed());
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return true;
  }

  QProcess& Run(const QString& program, const QStringList& arguments) {
    return Run(program, arguments, env_);
  }

  // What an X client prints, run to its end.
  QString Ask(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(env_);
    process.start(program, arguments);
    process.waitForFinished(kProgramWaitMs);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
  }

  // The window tree, one window a line.
  QString Tree() { return Ask(QStringLiteral("xwininfo"), {"-root", "-tree"}); }
  // The shown (mapped and viewable) windows of that name, one id a line.
  QString Shown(const QString& name) {
    return Ask(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", name}).trimmed();
  }

  const QProcessEnvironment& Environment() const { return env_; }

 private:
  QProcess& Run(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& env) {
    programs_.push_back(std::make_unique<QProcess>());
    programs_.back()->setProcessEnvironment(env);
    programs_.back()->start(program, arguments);
    programs_.back()->waitForStarted(kProgramWaitMs);
    return *programs_.back();
  }

  QProcessEnvironment env_;
  std::vector<std::unique_ptr<QProcess>> programs_;
};

TEST(TrayDesktop, MinimisingToTheTrayLeavesNothingOnScreenAndTheIconBringsTheWindowBack) {
  for (const char* tool : {"Xvfb", "openbox", "trayer", "xdotool", "xwininfo"}) {
    if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
      GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
    }
  }
  Desktop desktop;
  ASSERT_TRUE(desktop.Start());
  desktop.Run(QStringLiteral("openbox"), {});
  desktop.Run(QStringLiteral("trayer"),
              {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100",
               "--heighttype", "pixel", "--height", "24"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return desktop.Tree().contains("(\"panel\" \"trayer\")"); },
                              kProgramWaitMs));

  QTemporaryDir dir;
  const QString prefs = dir.filePath(QStringLiteral("prefs.ini"));
  ASSERT_TRUE(WriteBytes(prefs, "[KAVO]\r\nact=1\r\n[prefs]\r\nminimize=1\r\n"));
  RunningProgram quorvel({"--prefs", prefs, "--port", "0", "--player", "none"}, QUORVEL_BINARY,
                         desktop.Environment());
  const QString title = QStringLiteral("Quorvel");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !desktop.Shown(title).isEmpty(); }, kProgramWaitMs))
      << quorvel.err;
  // The icon: a window of the program inside the panel, at "+x+y" on the screen.
  QRegularExpressionMatch icon;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        icon = QRegularExpression(
                   QStringLiteral("\"quorvel\": \\(\"quorvel\" \"quorvel\"\\)\\s+"
                                  "(\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+\\s+\\+(\\d+)\\+(\\d+)"))
                   .match(desktop.Tree());
        return icon.hasMatch() && icon.captured(1) != QLatin1String("1");
      },
      kProgramWaitMs))
      << desktop.Tree().toStdString();

  desktop.Ask(QStringLiteral("xdotool"), {"windowminimize", desktop.Shown(title).split(u'\n')[0]});
  // Nothing of it stays on screen, now or a moment later: no frame, no empty window.
  EXPECT_TRUE(QTest::qWaitFor([&] { return desktop.Shown(title).isEmpty(); }, kProgramWaitMs));
  QTest::qWait(1000);
  EXPECT_TRUE(desktop.Shown(title).isEmpty()) << desktop.Tree().toStdString();

  const int x = icon.captured(3).toInt() + icon.captured(1).toInt() / 2;
  const int y = icon.captured(4).toInt() + icon.captured(2).toInt() / 2;
  desktop.Ask(QStringLiteral("xdotool"),
              {"mousemove", QString::number(x), QString::number(y), "click", "1"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return !desktop.Shown(title).isEmpty(); }, kProgramWaitMs));
  EXPECT_EQ(quorvel.Terminate(), 0) << quorvel.err;
}

}  // namespace
}  // namespace quorvel::testing
