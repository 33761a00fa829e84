#include "session/monitor_session.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include "media/qt_environment.h"
#include "monitor/monitor_fakes.h"

namespace quorvel::testing {
namespace {

[[maybe_unused]] const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The ticks themselves are seen end to end (headless test); here, that 0 stops them.
TEST(MonitorSession, TimerRunsFromTheStartAndAnIntervalOfZeroStopsIt) {
  RecordingRelay proxy;
  SwitchablePlayer player;
  const Preferences prefs;
  MonitorSession session(proxy, player, prefs, {});
  EXPECT_TRUE(session.TimerActive());
  session.SetInterval(0);
  EXPECT_FALSE(session.TimerActive());
}

// No update goes out while the connections close after the event loop.
TEST(MonitorSession, TimerStopsWhenTheEventLoopEnds) {
  RecordingRelay proxy;
  SwitchablePlayer player;
  const Preferences prefs;
  MonitorSession session(proxy, player, prefs, {});
  QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
  QCoreApplication::exec();
  EXPECT_FALSE(session.TimerActive());
}

}  // namespace
}  // namespace quorvel::testing
