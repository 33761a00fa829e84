// How the window front end ends: closing the window, SIGINT and SIGTERM all run the closing
// sequence once and end the event loop; and when the window is started at all.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <csignal>

#include "app/form1.h"
#include "app/termination_signals.h"
#include "app/window_fakes.h"
#include "app/window_main.h"

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;

class LifecycleTest : public ::testing::Test {
 protected:
  LifecycleTest() {
    form.SetTrayAvailability([] { return false; });
    form.Bind(proxy, monitorPort, settings);
    form.FormLoad();
    journal.clear();
    ConnectLifecycle(form, terminations);
  }

  // Runs the event loop after `start`; false when it had to be ended from outside.
  bool RunUntilQuit(const std::function<void()>& start) {
    bool timedOut = false;
    QTimer::singleShot(0, start);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
      timedOut = true;
      QCoreApplication::quit();
    });
    guard.start(10000);
    QCoreApplication::exec();
    return !timedOut;
  }

  Journal journal;
  RecordingProxy proxy{journal};
  MonitorDouble monitor{journal};
  MonitorPortFor<MonitorDouble> monitorPort{monitor};
  MemorySettings settings{journal};
  EventLog log;
  TerminationSignals terminations;
  Form1 form{log};
};

TEST_F(LifecycleTest, ClosingTheWindowEndsTheProgramAfterTheClosingSequence) {
  form.show();
  ASSERT_TRUE(RunUntilQuit([this] { form.close(); }));
  EXPECT_THAT(journal, ElementsAre("Save", "StopListen"));
}

TEST_F(LifecycleTest, TerminateRunsTheClosingSequence) {
  ASSERT_TRUE(terminations.IsActive());
  ASSERT_TRUE(RunUntilQuit([] { std::raise(SIGTERM); }));
  EXPECT_THAT(journal, ElementsAre("Save", "StopListen"));
  EXPECT_TRUE(form.IsUnloaded());
}

TEST_F(LifecycleTest, InterruptRunsTheClosingSequenceOnceEvenWhenRepeated) {
  ASSERT_TRUE(RunUntilQuit([] {
    std::raise(SIGINT);
    std::raise(SIGINT);
  }));
  EXPECT_THAT(journal, ElementsAre("Save", "StopListen"));
}

TEST(WindowStart, WindowIsStartedUnlessAnotherModeIsAskedFor) {
  struct Case {
    std::vector<const char*> args;
    bool window;
  };
  const Case cases[] = {
      {{"quorvel"}, true},
      {{"quorvel", "--prefs", "/tmp/p.ini"}, true},
      {{"quorvel", "--port", "4000"}, true},
      {{"quorvel", "--headless"}, false},
      {{"quorvel", "--port", "4000", "--headless"}, false},
      {{"quorvel", "--now-playing"}, false},
      {{"quorvel", "--now-playing=%a"}, false},
      {{"quorvel", "--help"}, false},
      {{"quorvel", "-v"}, false},
      {{"quorvel", "--headlessness"}, true},  // not an option of ours: the parser says so
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WindowRequested(static_cast<int>(c.args.size()), c.args.data()), c.window)
        << c.args.back();
  }
}

TEST(WindowStart, ADisplayIsNeededUnlessAPlatformIsChosen) {
  const QByteArray saved[] = {qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY"),
                              qgetenv("QT_QPA_PLATFORM")};
  const char* names[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  for (const char* name : names) qunsetenv(name);
  EXPECT_FALSE(DisplayAvailable());
  for (const char* name : names) {
    qputenv(name, "x");
    EXPECT_TRUE(DisplayAvailable()) << name;
    qunsetenv(name);
  }
  for (int i = 0; i < 3; ++i) {
    if (!saved[i].isNull()) qputenv(names[i], saved[i]);
  }
}

}  // namespace
}  // namespace quorvel::testing
