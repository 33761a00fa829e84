#include "session/monitor_session.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <vector>

#include "media/qt_environment.h"
#include "monitor/monitor_fakes.h"

namespace quorvel::testing {
namespace {

[[maybe_unused]] const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The ticks themselves are seen end to end (headless test); here, what stops them: an interval of
// 0, and the end of the event loop (no update goes out while the connections close after it).
TEST(MonitorSession, TimerRunsFromTheStartUntilAnIntervalOfZeroOrTheEventLoopEnds) {
  RecordingRelay proxy;
  SwitchablePlayer player;
  const Preferences prefs;
  MonitorSession session(proxy, player, prefs, {});
  EXPECT_TRUE(session.TimerActive());
  session.SetInterval(0);
  EXPECT_FALSE(session.TimerActive());
  session.SetInterval(1000);
  QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
  QCoreApplication::exec();
  EXPECT_FALSE(session.TimerActive());
}

// A new track reaches the server at once, not at the next tick, while the timer runs.
TEST(MonitorSession, PlayerChangesRunTheUpdatesAtOnceWhileTheTimerRuns) {
  RecordingRelay proxy;
  SwitchablePlayer player;
  Preferences prefs;
  prefs.intervalSpin = kSpinMax - 30000;
  {
    MonitorSession session(proxy, player, prefs, {});
    ASSERT_TRUE(player.watch.playbackChanged && player.watch.playersChanged);
    Bytes profile = Flap(Snac(2, 4, MakeTLV(2, "%s")));
    session.Host().FrameFromClient(1, profile);
    const auto sentAfterChange = [&](const char* song) {
      proxy.sent.clear();
      player.snapshot = Playing("Band", song);
      player.watch.playbackChanged();
      player.watch.playersChanged();  // one update for both
      for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
      std::vector<Bytes> frames;
      for (const auto& [to, slot, frame] : proxy.sent) frames.push_back(frame.substr(6));
      return frames;
    };
    EXPECT_EQ(sentAfterChange("Next"), std::vector<Bytes>{Snac(2, 4, MakeTLV(2, "Next"))});
    session.SetInterval(0);  // no updates at all
    EXPECT_EQ(sentAfterChange("Other"), std::vector<Bytes>{});
  }
  EXPECT_FALSE(player.watch.playbackChanged || player.watch.playersChanged);  // stopped watching
}

}  // namespace
}  // namespace quorvel::testing
